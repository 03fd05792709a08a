import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A padded text field on a filled, rounded background. Its accessible name is
// its placeholder.
TextField {
    id: field
    Layout.fillWidth: true
    leftPadding: 12
    rightPadding: 12
    topPadding: 12
    bottomPadding: 12
    color: Theme.primaryText
    placeholderTextColor: Theme.secondaryText
    font.pixelSize: Theme.body.pixelSize
    selectByMouse: true
    Accessible.role: Accessible.EditableText
    Accessible.name: placeholderText
    background: Rectangle {
        radius: Theme.cornerRadius
        color: Theme.filledBackground
        border.width: field.activeFocus ? 1 : 0
        border.color: Theme.accentGold
    }
}
