import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui

// One conversation of the Chats screen: title, last active time and a one-line
// preview (for a search result, the passage with the matches in bold). Enter opens
// it; "Delete" and "Export…" are in its menu: the "More" button, a long press, a
// right click, the Menu key or Shift+F10; the Delete key asks to delete it.
ItemDelegate {
    id: row
    required property string conversationId
    required property string title
    required property string preview
    required property string plainPreview
    required property string lastActive

    signal deleteAsked()
    signal exportAsked()

    objectName: "chatRow"
    width: ListView.view ? ListView.view.width : implicitWidth
    padding: 12
    leftPadding: Theme.padding
    rightPadding: 4
    Accessible.role: Accessible.ListItem
    Accessible.name: title + ", " + lastActive
    Accessible.description: plainPreview
    background: Rectangle {
        color: row.down ? Theme.filledBackground : row.visualFocus ? Theme.secondaryBackground : "transparent"
        border.color: row.visualFocus ? Theme.accentGold : "transparent"
        Rectangle { anchors.bottom: parent.bottom; width: parent.width; height: 1; color: Theme.separator }
    }

    function openMenu() { rowMenu.popup(row, row.width - rowMenu.width - 8, row.height / 2) }

    onPressAndHold: openMenu()
    Keys.onMenuPressed: openMenu()
    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier)) openMenu()
        else if (event.key === Qt.Key_Delete) row.deleteAsked()
        else return
        event.accepted = true
    }
    TapHandler {
        acceptedButtons: Qt.RightButton
        onTapped: row.openMenu()
    }

    contentItem: RowLayout {
        spacing: 4
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3
            RowLayout {
                Layout.fillWidth: true
                Label {
                    Layout.fillWidth: true
                    textFormat: Text.PlainText
                    text: row.title
                    elide: Text.ElideRight
                    font: Theme.headline
                    color: Theme.primaryText
                }
                Label {
                    textFormat: Text.PlainText
                    text: row.lastActive
                    font: Theme.footnote
                    color: Theme.secondaryText
                }
            }
            Label {
                id: previewText
                Layout.fillWidth: true
                // Built by ChatsListModel from escaped text: only its own bold matches are markup.
                textFormat: Text.StyledText
                text: row.preview
                maximumLineCount: 1
                elide: Text.ElideRight
                font: Theme.subheadline
                color: Theme.secondaryText
            }
        }
        ToolButton {
            objectName: "moreButton"
            Accessible.role: Accessible.ButtonMenu
            Accessible.name: "More for " + row.title
            contentItem: SymbolIcon { name: "ellipsis.circle"; size: 22; color: Theme.secondaryText }
            onClicked: row.openMenu()
        }
    }

    Menu {
        id: rowMenu
        objectName: "rowMenu"
        modal: true
        dim: false
        MenuItem {
            objectName: "exportEntry"
            text: "Export\u2026"
            Accessible.role: Accessible.MenuItem
            Accessible.name: text
            onTriggered: row.exportAsked()
        }
        MenuItem {
            objectName: "deleteEntry"
            text: "Delete"
            Accessible.role: Accessible.MenuItem
            Accessible.name: text
            onTriggered: row.deleteAsked()
        }
    }
}
