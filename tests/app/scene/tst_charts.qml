import QtQuick
import QtTest
import "../../../qml/logic/Scope.js" as Scope

TestCase {
    name: "Charts"

    // One eighteenth of the span on each side, in decades on a log axis (10..1000 worked out by
    // hand); a bound without a logarithm must not give NaN axis limits.
    function test_widen_data() {
        return [
            { tag: "linear", low: 10, high: 1000, log: false, min: -45, max: 1055 },
            { tag: "log", low: 10, high: 1000, log: true, min: 7.7426, max: 1291.55 },
            { tag: "log zero", low: 0, high: 100, log: true, min: 0.1, max: 0.2 },
            { tag: "log negative", low: -5, high: 100, log: true, min: 0.1, max: 0.2 },
            { tag: "log both", low: -5, high: -1, log: true, min: 0.1, max: 0.2 }
        ]
    }
    function test_widen(data) {
        const b = Scope.widen(data.low, data.high, data.log)
        fuzzyCompare(b.min, data.min, 1e-4 * Math.abs(data.min))
        fuzzyCompare(b.max, data.max, 1e-4 * Math.abs(data.max))
        const r = Scope.logRange(data.low, data.high)
        verify(r.min > 0 && r.max > 0)
    }

    function test_colors() {
        const n = Scope.colors.length
        compare(Scope.color(-1, n), Scope.colors[0]) // cycles after the last colour
        compare(Scope.color(-1, n + 1), Scope.colors[1])
        compare(Scope.color(3, 7), Scope.colors[3])
        compare(Scope.color(n, 1), Scope.colors[1]) // no such colour: the next one
    }

    function test_names_data() {
        return [
            { tag: "with postfix", name: "SSPD 12_a", channel: 12 },
            { tag: "plain", name: "SSPD 3", channel: 3 },
            { tag: "temperature", name: "Temperature 4", channel: 4 },
            { tag: "postfix with blanks", name: "SSPD 7_run 2", channel: 7 },
            { tag: "none", name: "None", channel: -1 },
            { tag: "no number", name: "SSPD ", channel: -1 }
        ]
    }
    function test_names(data) {
        compare(Scope.channelOf(data.name), data.channel)
        compare(Scope.canStart(data.name), data.channel >= 0)
    }

    function test_seriesAndLegend() {
        compare(["", "a", undefined].map(p => Scope.seriesName("SSPD 12", p)),
                ["SSPD 12", "SSPD 12_a", "SSPD 12"])
        verify(!Scope.canStart(undefined))
        compare([-1, 0, 1, 2, 5].map(Scope.legendIndex), [-1, -1, -1, 0, 3])
        const names = ["dummy", "dummy", "SSPD 1", "SSPD 2", "SSPD 1"]
        compare(Scope.lastIndexOf(names, "SSPD 1"), 4)
        compare(Scope.lastIndexOf(names, "SSPD 9"), -1)
        verify(Scope.isDummy("dummy") && !Scope.isDummy("SSPD 1"))
        const records = [ { address: 1, type: 0 }, { address: 4, type: 2 }, { address: 3, type: 1 } ]
        compare(Scope.channelList(records, "SSPD ", [0, 1]), ["None", "SSPD 1", "SSPD 3"])
        compare(Scope.channelList(records, "Temperature ", [2]), ["None", "Temperature 4"])
    }
}
