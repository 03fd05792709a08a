import QtQuick

// Disables `control` while `disabled`. A disabled item cannot hold the keyboard, so if
// `control` has it at that moment it first hands it back to the control before it in the
// Tab order, rather than letting it fall to nowhere.
QtObject {
    required property Item control
    property bool disabled: false

    function apply() {
        const previous = disabled && control.activeFocus ? control.nextItemInFocusChain(false) : null
        if (previous) previous.forceActiveFocus(Qt.BacktabFocusReason)
        control.enabled = !disabled
    }
    onDisabledChanged: apply()
    Component.onCompleted: apply()
}
