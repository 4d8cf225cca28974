.pragma library
// The tab table of the main window and the rules for showing, hiding and offering tabs.
// Functions take any model with count, get(i) and setProperty(i, role, value) (a ListModel).

// ready: the page exists in this build; other entries are listed but cannot be opened yet.
var table = [
    { name: "Home", alwaysVisible: true, notInMenu: false, page: "tabs/home.qml",
      iconPath: "Images/home.svg", ready: true },
    { name: "CPS(Time)", alwaysVisible: false, notInMenu: false, page: "tabs/cpsVsTime.qml",
      iconPath: "Images/cps_time.svg", ready: true },
    { name: "Temp(Time)", alwaysVisible: false, notInMenu: false, page: "tabs/tempVsTime.qml",
      iconPath: "Images/cps_time.svg", ready: true },
    { name: "CPS(Current)", alwaysVisible: false, notInMenu: false, page: "tabs/cpsVsCurrent.qml",
      iconPath: "Images/cps_current.svg", ready: true },
    { name: "CPS(Trigger)", alwaysVisible: false, notInMenu: false, page: "tabs/cpsVsTrigger.qml",
      iconPath: "Images/cps_trigger.svg", ready: true },
    { name: "IV curve", alwaysVisible: false, notInMenu: false, page: "tabs/IVCurve.qml",
      iconPath: "Images/iv_curves.svg", ready: true },
    { name: "Histogram (cps)", alwaysVisible: false, notInMenu: false, page: "tabs/histogram.qml",
      iconPath: "Images/histogram.svg", ready: true },
    { name: "SSPD Driver", alwaysVisible: false, notInMenu: true, page: "tabs/SspdDriver.qml",
      iconPath: "", ready: true },
    { name: "Temp Driver", alwaysVisible: false, notInMenu: true, page: "tabs/TempDriver.qml",
      iconPath: "", ready: true }
]

// Fills a ListModel with the table; only the always visible tabs are shown at start.
function fill(model) {
    model.clear()
    for (var i = 0; i < table.length; ++i) {
        var row = Object.assign({}, table[i])
        row.shown = row.alwaysVisible
        row.showsText = row.name !== "Home"
        model.append(row)
    }
}

function indexOf(model, name) {
    for (var i = 0; i < model.count; ++i)
        if (model.get(i).name === name)
            return i
    return -1
}

// Indices of the tabs the "+" menu offers.
function menuEntries(model) {
    var entries = []
    for (var i = 0; i < model.count; ++i) {
        var row = model.get(i)
        if (!row.alwaysVisible && !row.notInMenu)
            entries.push(i)
    }
    return entries
}

// A menu entry can be chosen while its tab is hidden and its page exists.
function menuEntryEnabled(model, index) {
    var row = model.get(index)
    return row.ready && !row.shown
}

function canClose(model, index) {
    return index >= 0 && index < model.count && !model.get(index).alwaysVisible
}

// Makes the tab visible; returns the index to switch to, -1 when it cannot be opened.
function open(model, name) {
    var index = indexOf(model, name)
    if (index < 0 || !model.get(index).ready)
        return -1
    model.setProperty(index, "shown", true)
    return index
}

// Hides the tab; returns the index that is current afterwards (Home when the closed tab was).
function close(model, index, currentIndex) {
    if (!canClose(model, index))
        return currentIndex
    model.setProperty(index, "shown", false)
    return index === currentIndex ? indexOf(model, "Home") : currentIndex
}

// Shows only the always visible tabs again.
function hideAllButFirst(model) {
    for (var i = 1; i < model.count; ++i)
        model.setProperty(i, "shown", false)
}
