.pragma library

// The characterisation dialog's arithmetic: the request from the fields, the curve's axes
// and the result text.

// The request for Worker.startCharacterisation; empty fields leave the module's own value.
function request(address, timeConstant, trigger, darkLimit) {
    const r = { address: address }
    const tc = String(timeConstant).trim()
    const tr = String(trigger).trim()
    const dl = String(darkLimit).trim()
    if (tc !== "")
        r.time_constant = Number(tc)
    if (tr !== "")
        r.trigger = Number(tr)
    if (dl !== "")
        r.dark_limit = Number(dl)
    return r
}

// Axes around the points: bias in A (linear), rate on decades (at least one decade).
function bounds(points, switching) {
    let xMin = Infinity, xMax = -Infinity, yMax = 10, yMin = Infinity
    for (const p of points) {
        xMin = Math.min(xMin, p.bias)
        xMax = Math.max(xMax, p.bias)
        yMax = Math.max(yMax, p.cps)
        if (p.cps > 0)
            yMin = Math.min(yMin, p.cps)
    }
    if (switching > 0)
        xMax = Math.max(xMax, switching)
    if (!isFinite(xMin)) {
        xMin = 0
        xMax = 1e-6
    }
    if (xMax <= xMin)
        xMax = xMin + 1e-6
    const top = Math.ceil(Math.log10(yMax * 1.5))
    const bottom = isFinite(yMin) ? Math.min(Math.floor(Math.log10(yMin)), top - 1) : top - 1
    return { xMin: xMin, xMax: xMax, decadeMin: bottom, decadeMax: top }
}

// Pixel position of (bias, cps) in a plot of width w and height h.
function position(b, bias, cps, w, h) {
    const decade = Math.log10(Math.max(cps, Math.pow(10, b.decadeMin)))
    return { x: (bias - b.xMin) / (b.xMax - b.xMin) * w,
             y: h - (decade - b.decadeMin) / (b.decadeMax - b.decadeMin) * h }
}

function microamperes(value) {
    return (typeof value === "number" && isFinite(value)) ? (value * 1e6).toFixed(3) + " μA" : "—"
}

// The result lines of a report.
function summary(report) {
    if (!report)
        return ""
    if (report.outcome === "failed")
        return "Failed: " + report.error
    const lines = [
        "I_sw " + microamperes(report.switching_current_A) + ", I_r "
            + microamperes(report.retrapping_current_A)
    ]
    if (report.outcome === "cancelled") {
        lines.push("Cancelled; the bias is at " + microamperes(report.bias_after_A))
        return lines.join("\n")
    }
    lines.push("Half rate at " + microamperes(report.half_rate_bias_A) + "; plateau "
               + (report.plateau_reached ? "reached" : "not reached"))
    if (typeof report.recommended_bias_A === "number")
        lines.push("Recommended bias " + microamperes(report.recommended_bias_A) + " ("
                   + Math.round(report.expected_cps) + " cps expected)")
    else
        lines.push("No recommendation")
    if (report.note)
        lines.push(report.note)
    return lines.join("\n")
}
