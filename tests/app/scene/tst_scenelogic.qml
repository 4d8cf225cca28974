import QtQuick
import QtTest
import "../../../qml/logic/Address.js" as Address
import "../../../qml/logic/Tabs.js" as Tabs

TestCase {
    name: "SceneLogic"

    ListModel { id: tabs }

    function init() { Tabs.fill(tabs) }

    function test_address_data() {
        return [["192.168.1.10", true], ["127.000.000.001", true], ["0.0.0.255", true],
                ["256.1.1.1", false], ["1.2.3", false], ["1.2.3.4.5", false], [" 1.2.3.4", false],
                ["a.b.c.d", false], ["", false]]
            .map(c => ({ tag: c[0] || "empty", text: c[0], ok: c[1] }))
    }

    function test_address(data) {
        compare(Address.isAcceptable(data.text), data.ok)
    }

    function test_startAndMenu() {
        for (let i = 0; i < tabs.count; ++i)
            compare(tabs.get(i).shown, tabs.get(i).name === "Home", tabs.get(i).name)
        verify(!tabs.get(0).showsText)
        compare(Tabs.menuEntries(tabs).map(i => tabs.get(i).name),
                ["CPS(Time)", "Temp(Time)", "CPS(Current)", "CPS(Trigger)", "IV curve",
                 "Histogram (cps)"])
        // An entry is offered while its tab is hidden and its page exists.
        const cps = Tabs.indexOf(tabs, "CPS(Time)")
        tabs.setProperty(cps, "ready", false)
        verify(!Tabs.menuEntryEnabled(tabs, cps))
        compare(Tabs.open(tabs, "CPS(Time)"), -1)
        verify(!tabs.get(cps).shown)
        compare(Tabs.open(tabs, "No such tab"), -1)
        tabs.setProperty(cps, "ready", true)
        verify(Tabs.menuEntryEnabled(tabs, cps))
        compare(Tabs.open(tabs, "CPS(Time)"), cps)
        verify(!Tabs.menuEntryEnabled(tabs, cps))
    }

    function test_close() {
        const iv = Tabs.open(tabs, "IV curve")
        const hist = Tabs.open(tabs, "Histogram (cps)")
        // Closing another tab keeps the current one, closing the current one returns to Home.
        compare(Tabs.close(tabs, iv, hist), hist)
        verify(!tabs.get(iv).shown)
        compare(Tabs.close(tabs, hist, hist), 0)
        verify(!tabs.get(hist).shown)
        // Home cannot be closed.
        verify(!Tabs.canClose(tabs, 0))
        compare(Tabs.close(tabs, 0, 0), 0)
        Tabs.open(tabs, "CPS(Trigger)")
        Tabs.hideAllButFirst(tabs)
        verify(tabs.get(0).shown && !tabs.get(Tabs.indexOf(tabs, "CPS(Trigger)")).shown)
    }
}
