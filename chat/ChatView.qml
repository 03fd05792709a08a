import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Window
import Nimbo.Session
import Nimbo.Ui
import Nimbo.Credits
import Nimbo.Learning
import Nimbo.Deploy
import Nimbo.Chat

// The chat screen, root of the signed-in navigation stack: header band, transcript,
// typing row and input bar, with the menu of the pushed screens and the update alert.
Page {
    id: page
    objectName: "chatView"
    Accessible.name: "NIMBO Chat"
    property SessionStore session

    readonly property ChatViewModel viewModel: ChatViewModel { session: page.session }

    background: Rectangle { color: Theme.systemBackground }

    // Runs on the first appearance and on every return from a pushed screen.
    StackView.onActivated: viewModel.onAppear()

    component MenuEntry: MenuItem {
        id: entry
        property string symbol
        Accessible.role: Accessible.MenuItem
        Accessible.name: text
        contentItem: Row {
            spacing: 12
            SymbolIcon {
                name: entry.symbol
                size: 20
                color: Theme.primaryText
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                textFormat: Text.PlainText
                text: entry.text
                font: Theme.body
                color: Theme.primaryText
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    header: NavigationBar {
        showBack: false
        title: ""

        leading: ToolButton {
            id: chatsButton
            objectName: "chatsButton"
            text: "Chats"
            Accessible.role: Accessible.Button
            Accessible.name: text
            onClicked: page.StackView.view.push(chatsScreen)
            contentItem: Text {
                textFormat: Text.PlainText
                text: chatsButton.text
                font: Theme.body
                color: Theme.accentGold
                verticalAlignment: Text.AlignVCenter
            }
        }

        ToolButton {
            id: menuButton
            objectName: "menuButton"
            Accessible.role: Accessible.ButtonMenu
            Accessible.name: "Menu"
            contentItem: SymbolIcon { name: "ellipsis.circle"; size: 26; color: Theme.accentGold }
            onClicked: menu.open()

            Menu {
                id: menu
                objectName: "chatMenu"
                modal: true  // takes the keyboard; nothing beneath takes input while it is open
                dim: false
                x: menuButton.width - width
                y: menuButton.height
                MenuEntry {
                    objectName: "creditsEntry"
                    text: "Credits & Billing"
                    symbol: "creditcard"
                    onTriggered: page.viewModel.showCredits = true
                }
                MenuEntry {
                    objectName: "learningEntry"
                    text: "Learning Sources"
                    symbol: "brain"
                    onTriggered: page.viewModel.showLearningSources = true
                }
                MenuEntry {
                    objectName: "deployEntry"
                    text: "Deploy (superadmin)"
                    symbol: "hammer"
                    onTriggered: page.viewModel.showSuperAdminDeploy = true
                }
            }
        }
    }

    // Each flag pushes its screen onto this stack; going back clears it.
    Connections {
        target: page.viewModel
        function onShowCreditsChanged() { if (page.viewModel.showCredits) page.StackView.view.push(creditsScreen) }
        function onShowLearningSourcesChanged() {
            if (page.viewModel.showLearningSources) page.StackView.view.push(learningScreen)
        }
        function onShowSuperAdminDeployChanged() {
            if (page.viewModel.showSuperAdminDeploy) page.StackView.view.push(deployScreen)
        }
    }
    Component {
        id: creditsScreen
        CreditsView {
            session: page.session
            StackView.onRemoved: page.viewModel.showCredits = false
        }
    }
    Component {
        id: learningScreen
        LearningSourcesView {
            Accessible.name: "Learning Sources"
            StackView.onRemoved: page.viewModel.showLearningSources = false
        }
    }
    Component {
        id: chatsScreen
        ChatsView {
            account: page.viewModel.accountKey
            onNewChatRequested: {
                page.viewModel.startNewChat()
                page.StackView.view.pop()
            }
            onOpenRequested: (conversationId) => {
                page.viewModel.openConversation(conversationId)
                page.StackView.view.pop()
            }
        }
    }
    Component {
        id: deployScreen
        SuperAdminDeployView { StackView.onRemoved: page.viewModel.showSuperAdminDeploy = false }
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: headerLines.implicitHeight + 2 * Theme.padding
            color: Theme.secondaryBackground

            Column {
                id: headerLines
                x: Theme.padding
                y: Theme.padding
                width: parent.width - 2 * Theme.padding
                spacing: 2
                Label {
                    textFormat: Text.PlainText
                    text: "NIMBO Chat"
                    font: Theme.headline
                    color: Theme.primaryText
                    Accessible.role: Accessible.Heading
                    Accessible.name: text
                }
                Label {
                    textFormat: Text.PlainText
                    objectName: "headerSubtitle"
                    width: parent.width
                    elide: Text.ElideRight
                    text: page.viewModel.headerSubtitle
                    font: Theme.caption
                    color: Theme.secondaryText
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
            }
        }

        ListView {
            id: transcript
            objectName: "transcript"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: page.viewModel.messages
            spacing: 10
            topMargin: 14
            bottomMargin: 14
            Accessible.role: Accessible.List
            Accessible.name: "Transcript"

            delegate: Item {
                id: row
                objectName: "messageRow"
                required property string content
                required property bool isUser

                width: transcript.width
                height: bubble.height

                Rectangle {
                    id: bubble
                    objectName: "bubble"
                    // 14 of list padding on each side, at least 40 kept free beside the bubble.
                    readonly property real widest: row.width - 2 * 14 - 40
                    x: row.isUser ? row.width - 14 - width : 14
                    width: Math.min(bubbleText.implicitWidth + 20, widest)
                    height: bubbleText.height + 20
                    radius: 14
                    color: row.isUser ? Theme.accentGold : Theme.secondaryBackground

                    TextEdit {
                        id: bubbleText
                        objectName: "bubbleText"
                        x: 10
                        y: 10
                        width: bubble.width - 20
                        text: row.content
                        readOnly: true
                        selectByMouse: true
                        // Reached with Tab; Shift+arrows select and Ctrl+C copies.
                        selectByKeyboard: true
                        activeFocusOnTab: true
                        wrapMode: TextEdit.Wrap
                        textFormat: TextEdit.PlainText
                        font: Theme.body
                        color: row.isUser ? Theme.black : Theme.primaryText
                        selectionColor: row.isUser ? Theme.filledBackground : Theme.accentGold
                        selectedTextColor: row.isUser ? Theme.primaryText : Theme.black
                        Accessible.role: Accessible.StaticText
                        Accessible.name: (row.isUser ? "You: " : "Nimbo: ") + text
                    }
                }
            }

            footer: Item {
                width: transcript.width
                height: page.viewModel.isTyping ? typingRow.height + 10 : 0
                visible: page.viewModel.isTyping

                Row {
                    id: typingRow
                    objectName: "typingRow"
                    x: 14 + 4
                    y: 10
                    spacing: 6
                    BusyIndicator {
                        width: 18
                        height: 18
                        padding: 0
                        running: page.viewModel.isTyping
                        anchors.verticalCenter: parent.verticalCenter
                        Accessible.role: Accessible.Indicator
                        Accessible.name: "Busy"
                    }
                    Label {
                        textFormat: Text.PlainText
                        text: "Nimbo is typing\u2026"
                        font: Theme.footnote
                        color: Theme.secondaryText
                        anchors.verticalCenter: parent.verticalCenter
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }
                }
            }

            // Brings the last entry into view, bottom-aligned, whenever the count changes.
            onCountChanged: if (count > 0) Qt.callLater(scrollToLast)
            function scrollToLast() {
                const from = contentY
                positionViewAtIndex(count - 1, ListView.End)
                const to = contentY
                if (from === to) return
                contentY = from
                scrollAnimation.to = to
                scrollAnimation.restart()
            }
            NumberAnimation {
                id: scrollAnimation
                target: transcript
                property: "contentY"
                duration: 250
                easing.type: Easing.InOutQuad
                // Rows built on the way may differ from the list's estimate: settle exactly.
                onFinished: transcript.positionViewAtIndex(transcript.count - 1, ListView.End)
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: inputRow.implicitHeight + 2 * Theme.padding
            color: Theme.systemBackground

            RowLayout {
                id: inputRow
                anchors.fill: parent
                anchors.margins: Theme.padding
                spacing: 8

                InputField {
                    objectName: "messageField"
                    placeholderText: "Message Nimbo\u2026"
                    leftPadding: 10
                    rightPadding: 10
                    topPadding: 10
                    bottomPadding: 10
                    // The return key does not send.
                    text: page.viewModel.inputText
                    onTextEdited: page.viewModel.inputText = text
                    background: Rectangle { radius: 10; color: Theme.secondaryBackground }
                }

                // A tap sends; a press held for half a second without moving runs the
                // on-device model test instead.
                Item {
                    objectName: "sendButton"
                    implicitWidth: 30
                    implicitHeight: 30
                    enabled: page.viewModel.canSend
                    opacity: enabled ? 1.0 : 0.4
                    Accessible.role: Accessible.Button
                    Accessible.name: "Send"
                    Accessible.onPressAction: page.viewModel.sendMessage()
                    activeFocusOnTab: true
                    Keys.onSpacePressed: page.viewModel.sendMessage()
                    Keys.onReturnPressed: page.viewModel.sendMessage()
                    Keys.onEnterPressed: page.viewModel.sendMessage()

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
                        onTapped: page.viewModel.sendMessage()
                        onLongPressed: page.viewModel.runOnDeviceModelTest()
                    }
                }
            }
        }
    }

    component AlertButton: Button {
        id: alertButton
        Layout.fillWidth: true
        implicitHeight: 44
        font.pixelSize: 17
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

    // Shown while the view model asks for it; closing it by either button clears the flag.
    Dialog {
        id: updateAlert
        objectName: "updateAlert"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: Math.min(300, page.width - 48)
        // Modal: it takes the keyboard (Tab stays inside) and nothing beneath takes input.
        modal: true
        focus: true
        closePolicy: Popup.CloseOnEscape
        title: "Update available"
        // Waits for the screen to be in a window before it opens.
        visible: page.viewModel.showUpdateAlert && page.Window.window !== null
        onClosed: page.viewModel.showUpdateAlert = false

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
            text: updateAlert.title
            font: Theme.headline
            color: Theme.primaryText
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }

        contentItem: Label {
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            text: page.viewModel.updateMessage
            font: Theme.footnote
            color: Theme.primaryText
            Accessible.role: Accessible.AlertMessage
            Accessible.name: text
        }

        footer: ColumnLayout {
            spacing: 0
            Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }
            RowLayout {
                spacing: 0
                AlertButton {
                    objectName: "updateButton"
                    focus: true
                    text: "Update"
                    onClicked: {
                        page.viewModel.openUpdate()
                        updateAlert.close()
                    }
                }
                Rectangle { Layout.fillHeight: true; implicitWidth: 1; color: Theme.separator }
                AlertButton {
                    objectName: "laterButton"
                    text: "Later"
                    font.weight: Font.DemiBold
                    onClicked: updateAlert.close()
                }
            }
        }
    }
}
