import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui

// The input bar: the message field and the send button. A tap on the button sends;
// a press held for half a second without moving runs the on-device model test.
Rectangle {
    id: composer
    required property var viewModel  // the screen's ChatViewModel
    property alias field: messageField

    implicitHeight: inputRow.implicitHeight + 2 * Theme.padding
    color: Theme.systemBackground

    // Sending empties the field, which disables the button: the keyboard goes back
    // to the field instead of to nowhere.
    function send() {
        const fromKeyboard = sendButton.activeFocus
        viewModel.sendMessage()
        if (fromKeyboard && !sendButton.enabled) messageField.forceActiveFocus()
    }

    RowLayout {
        id: inputRow
        anchors.fill: parent
        anchors.margins: Theme.padding
        spacing: 8

        InputField {
            id: messageField
            objectName: "messageField"
            placeholderText: "Message Nimbo\u2026"
            leftPadding: 10
            rightPadding: 10
            topPadding: 10
            bottomPadding: 10
            // The return key does not send.
            text: composer.viewModel.inputText
            onTextEdited: composer.viewModel.inputText = text
            background: Rectangle { radius: 10; color: Theme.secondaryBackground }
        }

        Item {
            id: sendButton
            objectName: "sendButton"
            implicitWidth: 30
            implicitHeight: 30
            enabled: composer.viewModel.canSend
            opacity: enabled ? 1.0 : 0.4
            Accessible.role: Accessible.Button
            Accessible.name: "Send"
            Accessible.onPressAction: composer.send()
            activeFocusOnTab: true
            Keys.onSpacePressed: composer.send()
            Keys.onReturnPressed: composer.send()
            Keys.onEnterPressed: composer.send()

            // "arrow.up.circle.fill": a filled gold disc with the arrow cut out.
            Rectangle {
                anchors.fill: parent
                radius: width / 2
                color: Theme.accentGold
                border.width: parent.activeFocus ? 2 : 0
                border.color: Theme.primaryText
                SymbolIcon {
                    anchors.centerIn: parent
                    name: "arrow.up"
                    size: 22
                    color: Theme.black
                }
            }
            TapHandler {
                longPressThreshold: 0.5
                gesturePolicy: TapHandler.DragThreshold
                onTapped: composer.viewModel.sendMessage()
                onLongPressed: composer.viewModel.runOnDeviceModelTest()
            }
        }
    }
}
