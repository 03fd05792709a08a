import QtQuick
import QtQuick.Controls
import Nimbo.Ui

// One transcript entry. What the person typed and the "⚠ " notices are plain text
// exactly as written; replies are drawn from their Markdown blocks, with a
// "Copy reply" action under the bubble that copies the reply's Markdown source. The
// notice of a failed send offers "Send again".
FocusScope {
    id: row
    objectName: "messageRow"
    required property string content
    required property bool isUser
    required property int index
    required property var blocks  // the first blocks of a formatted reply
    required property int blockCount
    required property string reading
    required property bool canResend
    required property bool isResending
    // Where the keyboard goes when this row, holding it, is scrolled away and set aside.
    property Item focusHome
    signal linkChosen(string url, string host)
    signal resendChosen()

    readonly property bool isFormatted: blocks.length > 0
    // 14 of list padding on each side, at least 40 kept free beside the bubble.
    readonly property real widest: width - 2 * 14 - 40

    height: bubble.height + (actions.visible ? actions.height + 2 : 0)

    // A row scrolled away is kept for another entry: what it showed for a moment goes.
    ListView.onPooled: {
        if (copyReplyLoader.item) copyReplyLoader.item.reset()
        bubbleText.deselect()
        if (row.activeFocus && focusHome) focusHome.forceActiveFocus()  // a hidden row keeps no keyboard
    }

    Rectangle {
        id: bubble
        objectName: "bubble"
        x: row.isUser ? row.width - 14 - width : 14
        width: Math.min((row.isFormatted ? blockColumn.naturalWidth : bubbleText.implicitWidth) + 20, row.widest)
        height: (row.isFormatted ? blockColumn.height : bubbleText.height) + 20
        radius: 14
        color: row.isUser ? Theme.accentGold : Theme.secondaryBackground
        // The bubble holding the keyboard's focus is outlined.
        border.width: row.activeFocus ? 2 : 0
        border.color: row.isUser ? Theme.primaryText : Theme.accentGold
        Accessible.role: Accessible.Grouping
        Accessible.name: row.isFormatted ? "Nimbo: " + row.reading : ""
        // A plain bubble is read by its text alone ("You: …"), not as a nameless panel around it.
        Accessible.ignored: !row.isFormatted

        TextEdit {
            id: bubbleText
            objectName: "bubbleText"
            visible: !row.isFormatted
            x: 10
            y: 10
            width: bubble.width - 20
            text: row.isFormatted ? "" : row.content
            readOnly: true
            selectByMouse: true
            // Reached with Tab; Shift+arrows select and Ctrl+C copies.
            selectByKeyboard: true
            activeFocusOnTab: visible
            wrapMode: TextEdit.Wrap
            textFormat: TextEdit.PlainText
            font: Theme.body
            color: row.isUser ? Theme.black : Theme.primaryText
            selectionColor: row.isUser ? Theme.filledBackground : Theme.accentGold
            selectedTextColor: row.isUser ? Theme.primaryText : Theme.black
            Accessible.role: Accessible.StaticText
            Accessible.name: (row.isUser ? "You: " : "Nimbo: ") + text
        }

        Column {
            id: blockColumn
            objectName: "blockColumn"
            visible: row.isFormatted
            x: 10
            y: 10
            width: bubble.width - 20
            spacing: 8
            readonly property real naturalWidth: widestOf(children)
            function widestOf(items) {
                let widest = 0
                for (let i = 0; i < items.length; ++i) widest = Math.max(widest, items[i].naturalWidth ?? 0)
                return Math.ceil(widest)
            }
            // The first blocks are built with the bubble, the rest over the next frames
            // (an asynchronous loader), so that a long reply never holds up the window.
            Repeater {
                model: row.blocks
                MarkdownBlock {
                    width: blockColumn.width
                    onLinkChosen: (url, host) => row.linkChosen(url, host)
                }
            }
            Repeater {
                // The rest in pieces, each built on its own over the next frames.
                model: Math.ceil(Math.max(0, row.blockCount - row.blocks.length) / 25)
                Loader {
                    id: piece
                    required property int index
                    asynchronous: true
                    width: blockColumn.width
                    readonly property real naturalWidth: item ? item.naturalWidth : 0
                    sourceComponent: Column {
                        spacing: blockColumn.spacing
                        readonly property real naturalWidth: blockColumn.widestOf(children)
                        Repeater {
                            model: row.ListView.view.model.blocksOf(row.index, row.blocks.length + 25 * piece.index, 25)
                            MarkdownBlock {
                                width: blockColumn.width
                                onLinkChosen: (url, host) => row.linkChosen(url, host)
                            }
                        }
                    }
                }
            }
        }
    }

    // Built only for the entries that offer them, so that a plain bubble stays cheap.
    Row {
        id: actions
        x: 14
        y: bubble.height + 2
        visible: row.isFormatted || row.canResend
        Loader { id: copyReplyLoader; active: row.isFormatted; asynchronous: true; sourceComponent: copyReplyAction }
        Loader { active: row.canResend; sourceComponent: sendAgainAction }
    }

    Component {
        id: copyReplyAction
        BubbleAction {
            id: copyReply
            objectName: "copyReplyButton"
            property bool isCopied: false
            text: "Copy reply"
            label: isCopied ? "Copied" : text
            function reset() {
                copiedTimer.stop()
                isCopied = false
            }
            onClicked: {
                Clipboard.setText(row.content)
                isCopied = true
                copiedTimer.restart()
            }
            Timer { id: copiedTimer; interval: 1500; onTriggered: copyReply.isCopied = false }
        }
    }
    // Under the notice of a failed send: sends the same request again. Disabled while
    // that runs; the keyboard then goes back to the notice.
    Component {
        id: sendAgainAction
        BubbleAction {
            id: sendAgain
            objectName: "sendAgainButton"
            text: "Send again"
            label: row.isResending ? "Sending\u2026" : text
            onClicked: row.resendChosen()
            readonly property FocusHandOff handOff: FocusHandOff { control: sendAgain; disabled: row.isResending }
        }
    }
}
