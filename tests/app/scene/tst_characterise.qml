import QtQuick
import QtTest
import "../../../qml/logic/Characterise.js" as Logic

// The characterisation dialog's request, plot axes and result text.
TestCase {
    name: "Characterise"

    function test_requestAndBounds() {
        compare(Logic.request(2, " 0.05 ", "", "200"),
                { address: 2, time_constant: 0.05, dark_limit: 200 })
        compare(Logic.request(1, "", "0.03", ""), { address: 1, trigger: 0.03 })

        const b = Logic.bounds([{ bias: 5e-6, cps: 30 }, { bias: 9e-6, cps: 8000 },
                                { bias: 9.5e-6, cps: 0, latched: true }], 10e-6)
        compare([b.xMin, b.xMax, b.decadeMin, b.decadeMax], [5e-6, 10e-6, 1, 5])
        compare(Logic.position(b, 10e-6, 1e5, 100, 40), { x: 100, y: 0 })
        // No point yet: a sensible empty frame.
        const empty = Logic.bounds([], 0)
        verify(empty.xMax > empty.xMin && empty.decadeMax > empty.decadeMin)
    }

    function test_summary() {
        compare(Logic.summary(null), "")
        compare(Logic.summary({ outcome: "failed", error: "module 9 does not answer" }),
                "Failed: module 9 does not answer")
        const done = Logic.summary({ outcome: "complete", switching_current_A: 25e-6,
                                     retrapping_current_A: 5e-6, half_rate_bias_A: 15e-6,
                                     plateau_reached: true, recommended_bias_A: 22e-6,
                                     expected_cps: 7990.4, note: "" })
        verify(done.indexOf("Recommended bias 22.000 μA (7990 cps expected)") >= 0, done)
        const none = Logic.summary({ outcome: "complete", switching_current_A: 22e-6,
                                     retrapping_current_A: 4e-6, half_rate_bias_A: null,
                                     plateau_reached: false, recommended_bias_A: null,
                                     note: "no plateau" })
        verify(none.indexOf("No recommendation") >= 0 && none.indexOf("no plateau") >= 0, none)
        verify(Logic.summary({ outcome: "cancelled", bias_after_A: 0 }).indexOf("Cancelled") >= 0)
    }
}
