import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui

// "Aa" in the navigation bar: a small popup to make the text smaller, larger or
// standard again, for those who do not use Ctrl+Plus, Ctrl+Minus and Ctrl+0.
ToolButton {
    id: button
    objectName: "textSizeButton"
    Accessible.role: Accessible.ButtonMenu
    Accessible.name: "Text size"
    contentItem: Text {
        textFormat: Text.PlainText
        text: "Aa"
        font: Theme.headline
        color: Theme.accentGold
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    onClicked: sizes.open()

    component SizeButton: Button {
        id: sizeButton
        property string label
        flat: true
        Accessible.role: Accessible.Button
        Accessible.name: text
        contentItem: Text {
            textFormat: Text.PlainText
            text: sizeButton.label
            font: Theme.headline
            color: sizeButton.enabled ? Theme.accentGold : Theme.secondaryText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            radius: 8
            color: sizeButton.down ? Theme.separator : "transparent"
            border.width: sizeButton.visualFocus ? 2 : 0
            border.color: Theme.accentGold
        }
    }

    Popup {
        id: sizes
        objectName: "textSizePopup"
        modal: true  // takes the keyboard while open
        dim: false
        focus: true
        x: button.width - width
        y: button.height
        padding: 8
        background: Rectangle { radius: 12; color: Theme.filledBackground }
        onOpened: largerButton.forceActiveFocus()

        RowLayout {
            spacing: 4
            SizeButton {
                objectName: "smallerTextButton"
                text: "Smaller text"
                label: "A\u2212"
                enabled: TextScale.canShrink
                onClicked: TextScale.smaller()
            }
            SizeButton {
                objectName: "resetTextButton"
                text: "Standard text size"
                label: TextScale.percent + " %"
                onClicked: TextScale.reset()
            }
            SizeButton {
                id: largerButton
                objectName: "largerTextButton"
                text: "Larger text"
                label: "A+"
                enabled: TextScale.canGrow
                onClicked: TextScale.larger()
            }
        }
    }
}
