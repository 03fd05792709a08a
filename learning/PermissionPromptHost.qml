import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui
import Nimbo.Learning

// The open permission prompt as a system-style alert over the whole window. It is
// modal: the keyboard moves into it and stays there, and nothing beneath it takes
// input until one of its buttons is chosen.
Item {
    id: host

    Connections {
        target: PermissionPrompter
        function onPendingChanged() {
            if (PermissionPrompter.isPending)
                prompt.open()
            else
                prompt.close()
        }
    }

    Popup {
        id: prompt
        objectName: "permissionPrompt"
        parent: Overlay.overlay
        modal: true
        focus: true
        closePolicy: Popup.NoAutoClose
        z: 1000
        anchors.centerIn: parent
        width: 270
        padding: 0
        Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.55) }
        background: Rectangle { radius: 14; color: Theme.filledBackground }

        contentItem: ColumnLayout {
            id: alert
            spacing: 0

            Label {
                Layout.fillWidth: true
                Layout.topMargin: 20
                Layout.leftMargin: Theme.padding
                Layout.rightMargin: Theme.padding
                text: PermissionPrompter.title
                font: Theme.headline
                color: Theme.primaryText
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
                textFormat: Text.PlainText
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            Label {
                Layout.fillWidth: true
                Layout.topMargin: 4
                Layout.bottomMargin: 20
                Layout.leftMargin: Theme.padding
                Layout.rightMargin: Theme.padding
                text: PermissionPrompter.message
                font: Theme.footnote
                color: Theme.primaryText
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
                textFormat: Text.PlainText
                Accessible.role: Accessible.AlertMessage
                Accessible.name: text
            }

            Repeater {
                model: PermissionPrompter.options
                delegate: ColumnLayout {
                    id: option
                    required property int index
                    required property string modelData
                    Layout.fillWidth: true
                    spacing: 0

                    Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }
                    AbstractButton {
                        id: optionButton
                        objectName: "permissionOption" + option.index
                        Layout.fillWidth: true
                        implicitHeight: 44
                        text: option.modelData
                        focus: option.index === 0
                        focusPolicy: Qt.StrongFocus
                        Accessible.role: Accessible.Button
                        Accessible.name: text
                        onClicked: PermissionPrompter.answer(option.index)
                        contentItem: Text {
                            text: optionButton.text
                            font: Theme.body
                            color: Theme.accentGold
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                            textFormat: Text.PlainText
                        }
                        background: Rectangle {
                            color: optionButton.pressed ? Theme.separator : "transparent"
                            border.width: optionButton.visualFocus ? 2 : 0
                            border.color: Theme.accentGold
                        }
                    }
                }
            }
        }
    }
}
