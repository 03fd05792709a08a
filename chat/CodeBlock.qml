import QtQuick
import QtQuick.Controls
import Nimbo.Ui

// A fenced code block: its language as a caption, the code in monospace on a darker
// panel, lines never wrapped (the panel scrolls sideways), and a Copy button that
// puts exactly the code on the clipboard.
Rectangle {
    id: panel
    objectName: "codeBlock"
    required property string code
    required property string language

    implicitHeight: caption.height + scroller.height + 12
    radius: 8
    color: Theme.codeBackground

    Text {
        id: caption
        x: 10
        y: 4
        width: panel.width - copyButton.width - 24
        height: Math.max(implicitHeight, copyButton.height)
        textFormat: Text.PlainText
        text: panel.language
        elide: Text.ElideRight
        verticalAlignment: Text.AlignVCenter
        font: Theme.caption
        color: Theme.secondaryText
    }

    Button {
        id: copyButton
        objectName: "copyCodeButton"
        property bool isCopied: false
        anchors.right: parent.right
        anchors.rightMargin: 4
        y: 2
        flat: true
        padding: 4
        Accessible.role: Accessible.Button
        Accessible.name: "Copy code"
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()
        contentItem: Text {
            textFormat: Text.PlainText
            text: copyButton.isCopied ? "Copied" : "Copy"
            font: Theme.caption
            color: Theme.accentGold
        }
        background: Rectangle {
            radius: 4
            color: copyButton.down ? Theme.separator : "transparent"
            border.width: copyButton.visualFocus ? 2 : 0
            border.color: Theme.accentGold
        }
        onClicked: {
            Clipboard.setText(panel.code)
            isCopied = true
            copiedTimer.restart()
        }
        Timer { id: copiedTimer; interval: 1500; onTriggered: copyButton.isCopied = false }
    }

    Flickable {
        id: scroller
        x: 10
        y: caption.y + caption.height + 2
        width: panel.width - 20
        height: codeText.height + (contentWidth > width ? 10 : 0)
        contentWidth: codeText.width
        contentHeight: codeText.height
        flickableDirection: Flickable.HorizontalFlick
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        ScrollBar.horizontal: ScrollBar { policy: scroller.contentWidth > scroller.width ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff }

        TextEdit {
            id: codeText
            objectName: "codeText"
            // A huge block shows its start; Copy still copies all of it.
            text: panel.code.length > 20000 ? panel.code.slice(0, 20000) + "\n\u2026" : panel.code
            textFormat: TextEdit.PlainText
            wrapMode: TextEdit.NoWrap
            readOnly: true
            selectByMouse: true
            selectByKeyboard: true
            activeFocusOnTab: true
            font: Theme.codeBody
            color: Theme.primaryText
            selectionColor: Theme.accentGold
            selectedTextColor: Theme.black
            Accessible.role: Accessible.StaticText
            Accessible.name: (panel.language ? panel.language + " code: " : "Code: ") + panel.code
            // The keyboard's cursor stays in view as it moves along a long line.
            onCursorRectangleChanged: {
                const r = cursorRectangle
                if (r.x < scroller.contentX) scroller.contentX = r.x
                else if (r.x + r.width > scroller.contentX + scroller.width)
                    scroller.contentX = r.x + r.width - scroller.width
            }
            Rectangle {
                anchors.fill: parent
                anchors.margins: -2
                color: "transparent"
                border.width: 2
                border.color: Theme.accentGold
                visible: codeText.activeFocus
            }
        }
    }
}
