.pragma library
// Bus addresses a module can be added at: whole numbers 0 to 31, written without sign or
// leading zeros.

const pattern = /^([0-9]|[12][0-9]|3[01])$/

function isAcceptable(text) {
    return pattern.test(text)
}
