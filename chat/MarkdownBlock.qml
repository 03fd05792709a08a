import QtQuick
import Nimbo.Ui

// One block of a formatted reply, drawn by its kind: paragraph, heading, list item
// (marker or check box), quote, code block, table or rule. Lists and quotes are
// indented by their (capped) depth; quotes get a bar per level.
Item {
    id: block
    required property var modelData  // a block of the Markdown unit
    signal linkChosen(string url, string host)

    readonly property string kind: modelData.kind
    readonly property real inset: modelData.indent * 20 * Theme.textScale + modelData.quoteLevel * 12

    implicitHeight: loader.height
    // The width the block would take unwrapped; code and tables take all there is.
    readonly property real naturalWidth: !loader.item ? 0
        : kind === "code" || kind === "table" || kind === "rule" ? Number.POSITIVE_INFINITY
        : inset + loader.item.naturalWidth

    Repeater {
        model: block.modelData.quoteLevel
        Rectangle {
                    x: block.modelData.indent * 20 * Theme.textScale + index * 12
            width: 3
            height: block.height
            radius: 1
            color: Theme.separator
        }
    }

    Loader {
        id: loader
        x: block.inset
        width: block.width - block.inset
        sourceComponent: block.kind === "code" ? codeBlock
                         : block.kind === "table" ? table
                         : block.kind === "rule" ? rule
                         : block.kind === "item" ? listItem : textBlock
    }

    Component {
        id: textBlock
        BlockText {
            inline: block.modelData
            font: block.kind !== "heading" ? Theme.body
                  : block.modelData.level === 1 ? Theme.title2
                  : block.modelData.level === 2 ? Qt.font({ pixelSize: Theme.title3.pixelSize, weight: Font.DemiBold })
                  : Theme.headline
            color: block.kind === "quote" ? Theme.secondaryText : Theme.primaryText
            Accessible.role: block.kind === "heading" ? Accessible.Heading : Accessible.StaticText
            onLinkChosen: (url, host) => block.linkChosen(url, host)
        }
    }
    Component {
        id: listItem
        Item {
            implicitHeight: Math.max(mark.height, itemText.height)
            readonly property real naturalWidth: mark.width + itemText.naturalWidth
            readonly property bool isTask: block.modelData.check !== 0
            Text {
                id: mark
                width: 22 * Theme.textScale
                textFormat: Text.PlainText
                text: parent.isTask ? (block.modelData.check === 2 ? "\u2611" : "\u2610") : block.modelData.marker
                font: Theme.body
                color: parent.isTask ? Theme.accentGold : Theme.secondaryText
                Accessible.role: parent.isTask ? Accessible.CheckBox : Accessible.StaticText
                Accessible.name: parent.isTask ? (block.modelData.check === 2 ? "Done" : "Not done") : text
                Accessible.checkable: parent.isTask
                Accessible.checked: block.modelData.check === 2
            }
            BlockText {
                id: itemText
                x: mark.width
                width: parent.width - mark.width
                inline: block.modelData
                onLinkChosen: (url, host) => block.linkChosen(url, host)
            }
        }
    }
    Component {
        id: codeBlock
        CodeBlock { code: block.modelData.code; language: block.modelData.language }
    }
    Component {
        id: table
        MarkdownTable {
            rows: block.modelData.rows
            onLinkChosen: (url, host) => block.linkChosen(url, host)
        }
    }
    Component {
        id: rule
        Item {
            implicitHeight: 9
            Rectangle { y: 4; width: parent.width; height: 1; color: Theme.separator }
        }
    }
}
