import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui

// A confirmation: a title, one line of explanation, "Cancel" and the action (in red).
// Modal: it takes the keyboard and nothing beneath takes input; Escape cancels.
Dialog {
    id: dialog
    property string message
    property string actionText
    signal confirmed()

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(300, (parent ? parent.width : 300) - 48)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 20
    topPadding: 6
    background: Rectangle { radius: 14; color: Theme.filledBackground }
    Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.55) }

    header: Label {
        textFormat: Text.PlainText
        topPadding: 20
        leftPadding: 20
        rightPadding: 20
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        text: dialog.title
        font: Theme.headline
        color: Theme.primaryText
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }
    contentItem: Label {
        textFormat: Text.PlainText
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        text: dialog.message
        font: Theme.footnote
        color: Theme.primaryText
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
    }

    component ChoiceButton: Button {
        id: choice
        property color textColor: Theme.accentGold
        Layout.fillWidth: true
        implicitHeight: 44
        Accessible.role: Accessible.Button
        Accessible.name: text
        contentItem: Text {
            textFormat: Text.PlainText
            text: choice.text
            font: Theme.body
            color: choice.textColor
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle { color: choice.down || choice.visualFocus ? Theme.separator : "transparent" }
    }

    footer: ColumnLayout {
        spacing: 0
        Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }
        RowLayout {
            spacing: 0
            ChoiceButton {
                objectName: "cancelButton"
                focus: true
                text: "Cancel"
                onClicked: dialog.close()
            }
            Rectangle { Layout.fillHeight: true; implicitWidth: 1; color: Theme.separator }
            ChoiceButton {
                objectName: "confirmButton"
                text: dialog.actionText
                textColor: Theme.red
                onClicked: {
                    dialog.close()
                    dialog.confirmed()
                }
            }
        }
    }
}
