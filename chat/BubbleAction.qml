import QtQuick
import QtQuick.Controls
import Nimbo.Ui

// A small action under a bubble ("Copy reply", "Send again"): tap, Space or Return.
// `text` names it for screen readers; `label` is what it shows (e.g. "Copied" for a moment).
Button {
    id: action
    property string label: text
    flat: true
    padding: 2
    leftPadding: 6
    rightPadding: 6
    Accessible.role: Accessible.Button
    Accessible.name: text
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()
    contentItem: Text {
        textFormat: Text.PlainText
        text: action.label
        font: Theme.caption
        color: action.enabled ? Theme.accentGold : Theme.secondaryText
    }
    background: Rectangle {
        radius: 4
        color: action.down ? Theme.separator : "transparent"
        FocusRing { shown: action.visualFocus; radius: 6 }
    }
}
