.pragma library
// The colour rules every control of the style shares.

function text(theme, control) {
    if (!control.enabled)
        return theme.blockedTextColor
    return control.hovered || control.activeFocus ? theme.hoveredTextColor : theme.idleTextColor
}

function border(theme, control) {
    if (!control.enabled)
        return theme.borderDisableControlColor
    if (control.pressed || control.down)
        return theme.borderPressedControlColor
    return control.hovered || control.visualFocus || control.activeFocus
            ? theme.borderHoveredControlColor : theme.borderIdleControlColor
}

function fill(theme, control) {
    return control.enabled && control.hovered ? theme.backgroundHoveredControlColor
                                              : theme.backgroundControlColor
}
