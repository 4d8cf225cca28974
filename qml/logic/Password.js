.pragma library
// The factory password that unlocks the options a user must not change by accident (the
// EEPROM constants, the module kind of a firmware update).

const factoryPassword = "quorbel"

function unlocks(text) {
    return text === factoryPassword
}
