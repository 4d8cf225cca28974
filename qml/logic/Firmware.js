.pragma library
// Firmware images in the catalogue: the module families they are made for, and where an
// image of a family, modification, hardware revision and version lies below the catalogue.

// In the order of the update dialog's type selector.
const families = ["VX9SD", "VX9TD"]

// The family of a module kind, from whether it is an SSPD or a temperature module.
function familyOf(isSspd, isTemperature) {
    return isSspd ? families[0] : isTemperature ? families[1] : ""
}

// The type selector's entry for a family; -1 when the family has none.
function familyIndex(family) {
    return families.indexOf(family)
}

function imageUrl(baseUrl, version, family, modification, hardware) {
    return baseUrl + version + "/" + family + "M" + modification + "V" + hardware + "_code.bin"
}

// An image is chosen once every selector has an entry.
function complete(indices) {
    return indices.every(index => index >= 0)
}
