import QtQuick
import QtQuick.Controls
import QtQuick.Dialogs
import QtQuick.Layouts
import Nimbo.Ui
import Nimbo.Chat

// The Chats screen: "New chat", the search field, the account's stored conversations
// (newest first, built lazily), and at the bottom the keep switch and "Delete all chats".
Page {
    id: page
    objectName: "chatsView"
    Accessible.name: "Chats"
    property alias account: chatsModel.account
    readonly property ChatsViewModel viewModel: ChatsViewModel { id: chatsModel }

    signal newChatRequested()
    signal openRequested(string conversationId)

    background: Rectangle { color: Theme.systemBackground }
    header: NavigationBar {
        title: "Chats"
        onBack: page.StackView.view.pop()
    }
    StackView.onActivated: viewModel.refresh()

    // The conversation a dialog is about.
    property string chosenId
    property string chosenTitle

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        InputField {
            id: searchField
            objectName: "searchField"
            Layout.margins: Theme.padding
            Layout.bottomMargin: 8
            placeholderText: "Search chats"
            inputMethodHints: Qt.ImhNoPredictiveText
            onTextChanged: page.viewModel.searchText = text
            KeyNavigation.down: newChatButton
        }

        // A Button, not an ItemDelegate: Qt announces a delegate as a list item whatever
        // Accessible.role says, and this row is no entry of the list below it.
        Button {
            id: newChatButton
            objectName: "newChatButton"
            Layout.fillWidth: true
            leftPadding: Theme.padding
            text: "New chat"
            flat: true
            topInset: 0
            bottomInset: 0
            topPadding: 8
            bottomPadding: 8
            Accessible.role: Accessible.Button
            Accessible.name: text
            onClicked: page.newChatRequested()
            KeyNavigation.down: list
            contentItem: Label {
                textFormat: Text.PlainText
                text: newChatButton.text
                font: Theme.headline
                color: Theme.accentGold
            }
            background: Rectangle {
                color: newChatButton.down || newChatButton.visualFocus ? Theme.secondaryBackground : "transparent"
                border.color: newChatButton.visualFocus ? Theme.accentGold : "transparent"
            }
        }

        Label {
            objectName: "chatsNotice"
            visible: text !== ""
            Layout.fillWidth: true
            Layout.margins: Theme.padding
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            text: page.viewModel.notice
            font: Theme.footnote
            color: Theme.orange
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }

        ListView {
            id: list
            objectName: "chatsList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            activeFocusOnTab: true
            keyNavigationEnabled: true
            currentIndex: -1
            Accessible.role: Accessible.List
            Accessible.name: "Chats"
            model: page.viewModel.conversations
            delegate: ChatsRow {
                onClicked: page.openRequested(conversationId)
                onDeleteAsked: {
                    page.chosenId = conversationId
                    page.chosenTitle = title
                    deleteDialog.open()
                }
                onExportAsked: {
                    page.chosenId = conversationId
                    exportDialog.selectedFile = page.viewModel.suggestedFile(title)
                    exportDialog.open()
                }
                Keys.onReturnPressed: page.openRequested(conversationId)
            }
            onActiveFocusChanged: if (activeFocus && currentIndex < 0 && count > 0) currentIndex = 0

            Label {
                objectName: "emptyChats"
                visible: list.count === 0 && page.viewModel.isLoaded
                anchors.centerIn: parent
                width: parent.width - 2 * Theme.padding
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                textFormat: Text.PlainText
                text: searchField.text.trim() !== "" ? "No chats match \u201C" + searchField.text.trim() + "\u201D."
                                                     : "No chats yet. Conversations you have appear here."
                font: Theme.subheadline
                color: Theme.secondaryText
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }

        Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }

        Label {
            objectName: "exportMessage"
            visible: text !== ""
            Layout.fillWidth: true
            Layout.leftMargin: Theme.padding
            Layout.rightMargin: Theme.padding
            Layout.topMargin: 8
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            text: page.viewModel.exportMessage
            font: Theme.footnote
            color: Theme.secondaryText
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: Theme.padding
            Layout.rightMargin: Theme.padding
            Label {
                Layout.fillWidth: true
                textFormat: Text.PlainText
                text: keepSwitch.text
                font: Theme.body
                color: Theme.primaryText
            }
            ToggleSwitch {
                id: keepSwitch
                objectName: "keepSwitch"
                text: "Keep chats on this device"
                // The view model holds the value; turning it off asks first.
                isOn: page.viewModel.keepChats
                onClicked: {
                    if (page.viewModel.keepChats) keepDialog.open()
                    else page.viewModel.keepChats = true
                }
                Accessible.name: text
            }
        }

        Button {
            id: deleteAllButton
            objectName: "deleteAllButton"
            Layout.fillWidth: true
            Layout.leftMargin: Theme.padding
            Layout.rightMargin: Theme.padding
            Layout.bottomMargin: Theme.padding
            flat: true
            text: "Delete all chats"
            enabled: page.viewModel.storedCount > 0
            onClicked: deleteAllDialog.open()
            Accessible.role: Accessible.Button
            Accessible.name: text
            contentItem: Label {
                textFormat: Text.PlainText
                text: deleteAllButton.text
                font: Theme.body
                color: deleteAllButton.enabled ? Theme.red : Theme.secondaryText
                horizontalAlignment: Text.AlignHCenter
            }
        }
    }

    ConfirmDialog {
        id: deleteDialog
        objectName: "deleteDialog"
        title: "Delete this chat?"
        message: "\u201C" + page.chosenTitle + "\u201D will be deleted from this device."
        actionText: "Delete"
        onConfirmed: page.viewModel.remove(page.chosenId)
    }
    ConfirmDialog {
        id: deleteAllDialog
        objectName: "deleteAllDialog"
        title: "Delete all chats?"
        message: (page.viewModel.storedCount === 1 ? "The 1 chat" : "All " + page.viewModel.storedCount + " chats")
                 + " kept on this device will be deleted."
        actionText: "Delete All"
        onConfirmed: page.viewModel.removeAll()
    }
    ConfirmDialog {
        id: keepDialog
        objectName: "keepDialog"
        title: "Stop keeping chats?"
        message: "This deletes " + (page.viewModel.storedCount === 1 ? "the 1 chat" : "all " + page.viewModel.storedCount + " chats")
                 + " kept on this device, and new chats are not kept until you turn this on again."
        actionText: "Delete and Stop"
        onConfirmed: page.viewModel.keepChats = false
    }
    FileDialog {
        id: exportDialog
        objectName: "exportDialog"
        title: "Export Chat"
        fileMode: FileDialog.SaveFile
        nameFilters: ["Markdown (*.md)"]
        defaultSuffix: "md"
        onAccepted: page.viewModel.exportConversation(page.chosenId, selectedFile)
    }
}
