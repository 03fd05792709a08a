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

        TextSizeButton {}
        ChatMenuButton { viewModel: page.viewModel }
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
            Connections {
                target: viewModel
                function onChatsDeleted(conversationId) { page.viewModel.storedChatsDeleted(conversationId) }
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
            // Rows scrolled away are kept and given the next entry instead of built anew.
            reuseItems: true

            delegate: MessageBubble {
                width: transcript.width
                onLinkChosen: (url, host) => linkQuestion.ask(url, host)
                onResendChosen: page.viewModel.resend(index)
                focusHome: composer.field
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
            // The end stays in view while the last reply's later blocks are built,
            // until the person scrolls or moves the focus.
            property bool followsEnd: false
            onMovementStarted: followsEnd = false
            onContentHeightChanged: if (followsEnd && !scrollAnimation.running) positionViewAtIndex(count - 1, ListView.End)
            function scrollToLast() {
                followsEnd = true
                const from = contentY
                positionViewAtIndex(count - 1, ListView.End)
                const to = contentY
                if (from === to) return
                contentY = from
                scrollAnimation.to = to
                scrollAnimation.restart()
            }
            function reveal(item) {
                followsEnd = false
                // Rows laid out on the way may move: measure again once they are.
                for (let pass = 0; pass < 2; ++pass) {
                    const top = item.mapToItem(contentItem, 0, 0).y - 8
                    const bottom = top + item.height + 16
                    if (top < contentY) contentY = top
                    else if (bottom > contentY + height) contentY = Math.min(top, bottom - height)
                    forceLayout()
                }
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

        Composer {
            id: composer
            Layout.fillWidth: true
            viewModel: page.viewModel
        }
    }

    // A focused bubble (or a block inside one) outside the visible part of the
    // transcript is scrolled into view.
    Connections {
        target: page.Window.window
        function onActiveFocusItemChanged() {
            const focused = page.Window.window.activeFocusItem
            // The whole bubble when it fits, else the focused part of it.
            for (let item = focused; item; item = item.parent)
                if (item.parent === transcript.contentItem)
                    return transcript.reveal(item.height <= transcript.height ? item : focused)
        }
    }

    // Shown while the view model asks for it; closing it by either button clears the flag.
    UpdateAlert {
        id: updateAlert
        message: page.viewModel.updateMessage
        // Waits for the screen to be in a window before it opens.
        visible: page.viewModel.showUpdateAlert && page.Window.window !== null
        onClosed: page.viewModel.showUpdateAlert = false
        onUpdate: page.viewModel.openUpdate()
    }

    // Asked before any link of a reply opens; only "Open" hands it to the link gate.
    LinkQuestion {
        id: linkQuestion
        onOpenChosen: url => page.viewModel.openLink(url)
    }
}
