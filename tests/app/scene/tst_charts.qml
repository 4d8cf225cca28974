import QtQuick
import QtTest
import "../../../qml/logic/Scope.js" as Scope

TestCase {
    name: "Charts"

    function test_widenLinear() {
        const b = Scope.widen(10, 1000, false)
        fuzzyCompare(b.min, -45, 1e-9)
        fuzzyCompare(b.max, 1055, 1e-9)
    }

    function test_widenLog() {
        const b = Scope.widen(10, 1000, true)
        fuzzyCompare(b.min, Math.pow(10, 16 / 18), 1e-9)
        fuzzyCompare(b.min, 7.743, 1e-3)
        fuzzyCompare(b.max, Math.pow(10, 56 / 18), 1e-6)
        fuzzyCompare(b.max, 1291.5, 0.1)
    }

    // A bound without a logarithm must not give NaN axis limits.
    function test_widenLogNonPositive_data() {
        return [ { tag: "zero", low: 0, high: 100 }, { tag: "negative", low: -5, high: 100 },
                 { tag: "both", low: -5, high: -1 } ]
    }
    function test_widenLogNonPositive(data) {
        const b = Scope.widen(data.low, data.high, true)
        compare(b.min, 0.1)
        compare(b.max, 0.2)
        const r = Scope.logRange(data.low, data.high)
        verify(r.min > 0 && r.max > 0)
    }

    function test_colors() {
        compare(Scope.colors.length, 11)
        compare(Scope.color(-1, 0), "#FF4300")
        compare(Scope.color(-1, 10), "#EC0082")
        compare(Scope.color(-1, 11), "#FF4300") // the twelfth series
        compare(Scope.color(-1, 12), "#0075B9")
        compare(Scope.color(3, 7), "#7E3095")
        compare(Scope.color(11, 1), "#0075B9") // no such colour: the next one
    }

    function test_seriesName() {
        compare(Scope.seriesName("SSPD 12", ""), "SSPD 12")
        compare(Scope.seriesName("SSPD 12", "a"), "SSPD 12_a")
        compare(Scope.seriesName("SSPD 3", undefined), "SSPD 3")
    }

    function test_channelOf_data() {
        return [
            { tag: "with postfix", name: "SSPD 12_a", channel: 12 },
            { tag: "plain", name: "SSPD 3", channel: 3 },
            { tag: "temperature", name: "Temperature 4", channel: 4 },
            { tag: "postfix with blanks", name: "SSPD 7_run 2", channel: 7 },
            { tag: "none", name: "None", channel: -1 },
            { tag: "no number", name: "SSPD ", channel: -1 }
        ]
    }
    function test_channelOf(data) {
        compare(Scope.channelOf(data.name), data.channel)
    }

    function test_canStart() {
        verify(!Scope.canStart("None"))
        verify(!Scope.canStart(""))
        verify(!Scope.canStart(undefined))
        verify(Scope.canStart("SSPD 12"))
    }

    function test_legendIndex() {
        compare(Scope.legendIndex(0), -1)
        compare(Scope.legendIndex(1), -1)
        compare(Scope.legendIndex(2), 0)
        compare(Scope.legendIndex(5), 3)
        compare(Scope.legendIndex(-1), -1)
        verify(Scope.isDummy("dummy"))
        verify(!Scope.isDummy("SSPD 1"))
    }

    function test_lastIndexOf() {
        const names = ["dummy", "dummy", "SSPD 1", "SSPD 2", "SSPD 1"]
        compare(Scope.lastIndexOf(names, "SSPD 1"), 4)
        compare(Scope.lastIndexOf(names, "SSPD 9"), -1)
        compare(Scope.legendIndex(Scope.lastIndexOf(names, "dummy")), -1)
    }

    function test_channelList() {
        const records = [ { address: 1, type: 0 }, { address: 4, type: 2 }, { address: 3, type: 1 } ]
        compare(Scope.channelList(records, "SSPD ", [0, 1]), ["None", "SSPD 1", "SSPD 3"])
        compare(Scope.channelList(records, "Temperature ", [2]), ["None", "Temperature 4"])
    }
}
