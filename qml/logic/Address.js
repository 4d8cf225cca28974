.pragma library
// The address a user may type for a control unit: a dotted quad of numbers 0 to 255.

var pattern = /^(([01]?[0-9]?[0-9]|2([0-4][0-9]|5[0-5]))\.){3}([01]?[0-9]?[0-9]|2([0-4][0-9]|5[0-5]))$/

function isAcceptable(text) {
    return pattern.test(String(text))
}
