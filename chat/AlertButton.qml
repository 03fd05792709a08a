import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui

// A button of the screen's alerts: full-width, gold text, separators drawn by the alert.
Button {
    id: alertButton
    Layout.fillWidth: true
    implicitHeight: Math.max(44, contentItem.implicitHeight + 20)
    font.pixelSize: Theme.body.pixelSize
    font.capitalization: Font.MixedCase
    Accessible.role: Accessible.Button
    Accessible.name: text
    contentItem: Text {
        textFormat: Text.PlainText
        text: alertButton.text
        font: alertButton.font
        color: Theme.accentGold
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle { color: alertButton.down || alertButton.visualFocus ? Theme.separator : "transparent" }
}
