import QtQuick

// Disables `control` while `disabled`. A disabled item cannot hold the keyboard, so if
// `control` has it at that moment it first hands it back to the control before it in the
// Tab order, rather than letting it fall to nowhere.
QtObject {
    required property Item control
    property bool disabled: false

    onDisabledChanged: {
        if (disabled && control.activeFocus) control.nextItemInFocusChain(false).forceActiveFocus(Qt.BacktabFocusReason)
        control.enabled = !disabled
    }
}
