import QtQuick
import QtTest
import "../../../qml/logic/Address.js" as Address
import "../../../qml/logic/Tabs.js" as Tabs

TestCase {
    name: "SceneLogic"

    ListModel { id: tabs }

    function init() {
        Tabs.fill(tabs)
    }

    function names(indices) {
        return indices.map(i => tabs.get(i).name)
    }

    function test_address_data() {
        return [
            { tag: "dotted quad", text: "192.168.1.10", ok: true },
            { tag: "stored default", text: "127.000.000.001", ok: true },
            { tag: "edges", text: "0.0.0.255", ok: true },
            { tag: "above 255", text: "256.1.1.1", ok: false },
            { tag: "three parts", text: "1.2.3", ok: false },
            { tag: "five parts", text: "1.2.3.4.5", ok: false },
            { tag: "space", text: " 1.2.3.4", ok: false },
            { tag: "letters", text: "a.b.c.d", ok: false },
            { tag: "empty", text: "", ok: false }
        ]
    }

    function test_address(data) {
        compare(Address.isAcceptable(data.text), data.ok)
    }

    function test_startShowsOnlyHome() {
        compare(tabs.count, 9)
        for (let i = 0; i < tabs.count; ++i)
            compare(tabs.get(i).shown, tabs.get(i).name === "Home", tabs.get(i).name)
        verify(!tabs.get(0).showsText)
    }

    function test_menuOffersChartTabsOnly() {
        compare(names(Tabs.menuEntries(tabs)),
                ["CPS(Time)", "Temp(Time)", "CPS(Current)", "CPS(Trigger)", "IV curve",
                 "Histogram (cps)"])
    }

    function test_menuEntryEnabledWhileHiddenAndReady() {
        const cps = Tabs.indexOf(tabs, "CPS(Time)")
        tabs.setProperty(cps, "ready", false)
        verify(!Tabs.menuEntryEnabled(tabs, cps)) // no page
        tabs.setProperty(cps, "ready", true)
        verify(Tabs.menuEntryEnabled(tabs, cps))
        compare(Tabs.open(tabs, "CPS(Time)"), cps)
        verify(!Tabs.menuEntryEnabled(tabs, cps))
    }

    function test_openNeedsPage() {
        tabs.setProperty(Tabs.indexOf(tabs, "IV curve"), "ready", false)
        compare(Tabs.open(tabs, "IV curve"), -1)
        verify(!tabs.get(Tabs.indexOf(tabs, "IV curve")).shown)
        compare(Tabs.open(tabs, "No such tab"), -1)
    }

    function test_close() {
        const iv = Tabs.indexOf(tabs, "IV curve")
        const hist = Tabs.indexOf(tabs, "Histogram (cps)")
        tabs.setProperty(iv, "ready", true)
        tabs.setProperty(hist, "ready", true)
        Tabs.open(tabs, "IV curve")
        Tabs.open(tabs, "Histogram (cps)")
        // Closing another tab keeps the current one.
        compare(Tabs.close(tabs, iv, hist), hist)
        verify(!tabs.get(iv).shown)
        // Closing the current one returns to Home.
        compare(Tabs.close(tabs, hist, hist), 0)
        verify(!tabs.get(hist).shown)
        // Home cannot be closed.
        verify(!Tabs.canClose(tabs, 0))
        compare(Tabs.close(tabs, 0, 0), 0)
        verify(tabs.get(0).shown)
    }

    function test_hideAllButFirst() {
        const trig = Tabs.indexOf(tabs, "CPS(Trigger)")
        tabs.setProperty(trig, "ready", true)
        Tabs.open(tabs, "CPS(Trigger)")
        Tabs.hideAllButFirst(tabs)
        verify(tabs.get(0).shown)
        verify(!tabs.get(trig).shown)
    }
}
