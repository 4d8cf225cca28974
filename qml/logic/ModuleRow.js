.pragma library
// Texts and colours of the home view's module rows. Values come straight from the device
// list; a module may lack any of them (undefined), which every function shows as "---" or
// as the inactive colour. Colours are taken from the palette handed in (the Theme).

// Device types and states as the device list numbers them.
var TypeSspdM0 = 0
var TypeSspdM1 = 1
var TypeTempM0 = 2
var TypeTempM1 = 3
var StatusIdle = 0
var StatusActive = 1

// Above this many volts across an SSPD the wire has left the superconducting state.
var LatchedVoltage = 0.05

// The spin box counts tenths of a microampere within ±100 μA.
var SpinMinimum = -1000
var SpinMaximum = 1000

function missing(value) {
    return value === undefined || value === null || value === "" || isNaN(Number(value))
}

// "sspd", "temperature" or "" (a row without content).
function rowKind(type) {
    if (type === TypeSspdM0 || type === TypeSspdM1)
        return "sspd"
    // Both temperature models read their (first sensor's) temperature.
    if (type === TypeTempM0 || type === TypeTempM1)
        return "temperature"
    return ""
}

function operating(operate) {
    return operate === true
}

function lampColor(palette, status) {
    if (status === StatusIdle || missing(status))
        return palette.backgroundHoveredControlColor
    if (status === StatusActive)
        return Qt.darker("#55AD00", 1.2)
    return Qt.darker("red", 1.5)
}

function sspdColor(palette, operate, voltage) {
    if (!operating(operate))
        return palette.blockedTextColor
    if (!missing(voltage) && Math.abs(Number(voltage)) > LatchedVoltage)
        return palette.linkTextColor
    return palette.idleTextColor
}

function temperatureColor(palette, operate) {
    return operating(operate) ? palette.idleTextColor : palette.blockedTextColor
}

function cpsText(cps) {
    return missing(cps) ? "---" : Number(cps).toPrecision(4) + " cps"
}

function temperatureText(kelvin) {
    return missing(kelvin) ? "---" : Number(kelvin).toFixed(1) + " K"
}

// Spin box steps (tenths of a microampere) of a current in amperes; 0 when missing.
function spinStepsOf(amperes) {
    if (missing(amperes))
        return 0
    const steps = Math.round(Number(amperes) * 1e7)
    return Math.max(SpinMinimum, Math.min(SpinMaximum, steps))
}

function spinText(steps) {
    return (steps / 10).toFixed(1) + " μA"
}

// Steps of a typed text such as "2.5", "-3,1" or "2.5 μA"; NaN for anything else.
function spinStepsOfText(text) {
    const match = /^\s*([-+]?\d*(?:[.,]\d*)?)\s*(?:μA|uA|μ|u)?\s*$/.exec(String(text))
    if (!match || match[1] === "" || match[1] === "-" || match[1] === "+")
        return NaN
    const microamperes = Number(match[1].replace(",", "."))
    return isNaN(microamperes) ? NaN : Math.round(microamperes * 10)
}

// The current in amperes that a spin box value in microamperes stands for.
function amperesOf(microamperes) {
    return microamperes * 1e-6
}

// The label of a module in the channel lists of the dialogs; "" for a module that has no
// channel to switch.
function channelLabel(type, address) {
    if (type === TypeSspdM0 || type === TypeSspdM1)
        return "SSPD #" + address
    if (type === TypeTempM0 || type === TypeTempM1)
        return "Temperature #" + address
    return ""
}

// The folder of an absolute file path as a file URL (where file dialogs start); "" for a
// relative path.
function folderUrlOf(path) {
    const text = String(path)
    const slash = text.lastIndexOf("/")
    if (slash < 0 || text.charAt(0) !== "/")
        return ""
    return "file://" + (slash === 0 ? "/" : text.substring(0, slash))
}
