import QtQuick
import QtQuick.Controls
import QtTest
import Nimbo.Chat

// The chat screen's controls, driven as a person would.
Item {
    width: 390
    height: 844

    StackView {
        anchors.fill: parent
        initialItem: ChatView { id: chat }
    }

    TestCase {
        name: "ChatView"
        when: windowShown

        function test_typingEnablesSendReturnDoesNotSendAndTabThenSpaceSends() {
            const field = findChild(chat, "messageField")
            const send = findChild(chat, "sendButton")
            const before = chat.viewModel.messages.rowCount()
            field.forceActiveFocus()
            keyClick(Qt.Key_H)
            keyClick(Qt.Key_I)
            compare(send.enabled, true)
            keyClick(Qt.Key_Return)
            compare(chat.viewModel.messages.rowCount(), before)
            keyClick(Qt.Key_Tab)
            verify(send.activeFocus)
            keyClick(Qt.Key_Space)
            compare(field.text, "")
            compare(send.enabled, false)
            tryCompare(chat.viewModel, "isTyping", false, 5000)
            compare(chat.viewModel.messages.rowCount(), before + 2)  // the message and its answer
        }

        function test_menuOffersThreeEntriesInOrder() {
            const menu = findChild(chat, "chatMenu")
            compare(menu.count, 3)
            compare(menu.itemAt(0).text, "Credits & Billing")
            compare(menu.itemAt(1).text, "Learning Sources")
            compare(menu.itemAt(2).text, "Deploy (superadmin)")
        }
    }
}
