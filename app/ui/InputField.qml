import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// A padded text field on a filled, rounded background, ringed in gold while it has
// the keyboard. Its accessible name is `accessibleName` (its placeholder unless
// set). A password field (echoMode not Normal) is read by assistive technology
// through PasswordFieldAccessible: announced as a password field, by that name,
// with only the masked text.
TextField {
    id: field
    property string accessibleName: placeholderText
    property color fill: Theme.filledBackground

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
    Accessible.name: accessibleName
    background: Rectangle {
        radius: Theme.cornerRadius
        color: field.fill
        border.width: field.activeFocus ? 2 : 0
        border.color: Theme.accentGold
    }
}
