import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui
import Nimbo.Learning

// The open permission prompt as a system-style alert over the whole window. While
// it shows, nothing beneath it takes input.
Item {
    id: host
    objectName: "permissionPromptHost"
    visible: PermissionPrompter.isPending
    z: 1000

    Rectangle {
        anchors.fill: parent
        color: Qt.rgba(0, 0, 0, 0.55)
    }

    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.AllButtons
        onWheel: (wheel) => wheel.accepted = true
    }

    Rectangle {
        anchors.centerIn: parent
        width: 270
        height: alert.implicitHeight
        radius: 14
        color: Theme.filledBackground

        ColumnLayout {
            id: alert
            width: parent.width
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
                        Accessible.role: Accessible.Button
                        Accessible.name: text
                        onClicked: PermissionPrompter.answer(option.index)
                        contentItem: Text {
                            text: optionButton.text
                            font: Theme.body
                            color: Theme.accentGold
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                        }
                        background: Rectangle { color: optionButton.pressed ? Theme.separator : "transparent" }
                    }
                }
            }
        }
    }
}
