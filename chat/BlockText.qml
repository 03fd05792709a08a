import QtQuick
import Nimbo.Ui

// The styled text of one Markdown block or table cell. `rich` is only ever the
// string the Markdown unit built (every character of the reply escaped, links as
// "#<index>"); the links get focusable stand-ins over their text for the keyboard
// and screen readers. Text is selectable by mouse and keyboard.
TextEdit {
    id: blockText
    objectName: "blockText"
    required property var inline  // {rich, plain, links}
    signal linkChosen(string url, string host)

    textFormat: TextEdit.RichText
    text: inline.rich
    readOnly: true
    selectByMouse: true
    selectByKeyboard: true
    activeFocusOnTab: true
    wrapMode: TextEdit.Wrap
    font: Theme.body
    color: Theme.primaryText
    selectionColor: Theme.accentGold
    selectedTextColor: Theme.black
    Accessible.role: Accessible.StaticText
    Accessible.name: inline.plain

    // The width the text takes unwrapped, measured from its plain reading (so that it
    // does not depend on the width the bubble then gives it); a little spare for bold.
    readonly property real naturalWidth: {
        let widest = 0
        for (const line of inline.plain.split("\u2028")) widest = Math.max(widest, metrics.advanceWidth(line))
        return Math.ceil(widest * 1.08) + 4
    }
    FontMetrics { id: metrics; font: blockText.font }

    onLinkActivated: link => choose(parseInt(link.slice(1)))
    function choose(index) {
        const target = inline.links[index]
        if (target) linkChosen(target.url, target.host)
    }

    Rectangle {
        anchors.fill: parent
        anchors.margins: -3
        radius: 4
        color: "transparent"
        border.width: 2
        border.color: Theme.accentGold
        visible: blockText.activeFocus
    }

    Repeater {
        model: blockText.inline.links
        delegate: Item {
            id: link
            objectName: "link"
            required property var modelData
            required property int index
            // Over the link's first line of text.
            readonly property bool isLaidOut: blockText.width > 0 && blockText.contentHeight > 0
                                              && blockText.length >= modelData.end
            readonly property rect first: isLaidOut ? blockText.positionToRectangle(modelData.start) : Qt.rect(0, 0, 0, 0)
            readonly property rect last: isLaidOut ? blockText.positionToRectangle(modelData.end) : Qt.rect(0, 0, 0, 0)
            x: first.x
            y: first.y
            width: Math.max(4, (last.y === first.y ? last.x : blockText.width) - first.x)
            height: first.height
            activeFocusOnTab: true
            Accessible.role: Accessible.Link
            Accessible.name: modelData.text
            Accessible.onPressAction: blockText.choose(index)
            Keys.onSpacePressed: blockText.choose(index)
            Keys.onReturnPressed: blockText.choose(index)
            Keys.onEnterPressed: blockText.choose(index)
            Rectangle {
                anchors.fill: parent
                anchors.margins: -2
                radius: 3
                color: "transparent"
                border.width: 2
                border.color: Theme.primaryText
                visible: link.activeFocus
            }
        }
    }
}
