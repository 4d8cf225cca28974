.pragma library
// What the scope view and the chart tabs compute without a chart: axis bounds, series colours
// and names, channel numbers and the legend's place of a chart series.

// Series colours in the order new series take them.
var colors = ["#FF4300", "#0075B9", "#FFC000", "#7E3095", "#6CBF00", "#FF0000", "#009CC3",
              "#FF8000", "#404EA3", "#FAE300", "#EC0082"]

// Every chart holds two hidden "dummy" series (one per axis kind) in front of the real ones.
var dummyName = "dummy"
var dummyCount = 2

// Used on a logarithmic axis when a bound is not positive.
var logFallbackMin = 0.1
var logFallbackMax = 0.2

// The colour of a series: the one asked for when it is a valid index, else the one after the
// series already on the chart, cycling through the list.
function color(colorIndex, seriesCount) {
    if (colorIndex >= 0 && colorIndex < colors.length)
        return colors[colorIndex]
    return colors[((seriesCount % colors.length) + colors.length) % colors.length]
}

// Widens a linear range by one eighteenth of its span on each side.
function widenLinear(low, high) {
    return { min: (low * 19 - high) / 18, max: (high * 19 - low) / 18 }
}

// The same widening on a logarithmic axis (in decades). A bound that is not positive has no
// logarithm: the fallback range keeps the axis drawable.
function widenLog(low, high) {
    if (!(low > 0) || !(high > 0))
        return { min: logFallbackMin, max: logFallbackMax }
    var ll = Math.log(low), lh = Math.log(high)
    return { min: Math.exp((19 * ll - lh) / 18), max: Math.exp((19 * lh - ll) / 18) }
}

// Widened bounds for an axis, linear or logarithmic.
function widen(low, high, logarithmic) {
    return logarithmic ? widenLog(low, high) : widenLinear(low, high)
}

// The range a logarithmic axis shows for the given bounds after a rescale.
function logRange(min, max) {
    return { min: min > 0 ? min : logFallbackMin, max: max > 0 ? max : logFallbackMax }
}

function isDummy(name) {
    return String(name).indexOf(dummyName) === 0
}

// The series name of a measurement: the channel text, with "_" and the postfix when given.
function seriesName(channel, postfix) {
    var p = postfix === undefined || postfix === null ? "" : String(postfix)
    return p.length > 0 ? channel + "_" + p : String(channel)
}

// The module address in a series or channel name ("SSPD 12_a" gives 12); -1 when it has none.
function channelOf(name) {
    var head = String(name).split("_")[0].trim()
    var pieces = head.split(/\s+/)
    var last = pieces[pieces.length - 1]
    if (!/^\d+$/.test(last))
        return -1
    return parseInt(last, 10)
}

// A measurement can start only on a real channel.
function canStart(channel) {
    return channel !== undefined && channel !== null && channel !== "None" && channelOf(channel) >= 0
}

// The legend row of a chart series, -1 for the dummies and for indices off the chart.
function legendIndex(chartIndex) {
    return chartIndex >= dummyCount ? chartIndex - dummyCount : -1
}

// The index of the last entry of names equal to name, -1 when there is none.
function lastIndexOf(names, name) {
    for (var i = names.length - 1; i >= 0; --i)
        if (names[i] === name)
            return i
    return -1
}

// The process panel's channel list: "None" first, then one entry per fitting module.
function channelList(records, prefix, types) {
    var list = ["None"]
    for (var i = 0; i < records.length; ++i)
        if (types.indexOf(records[i].type) >= 0)
            list.push(prefix + records[i].address)
    return list
}
