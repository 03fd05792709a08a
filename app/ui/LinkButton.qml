import QtQuick

// A link tinted with the accent colour, with an optional symbol before its text.
// Announced as a link (a Button would be announced as a button), reached with Tab
// and followed with a tap, Space or Return.
Item {
    id: control
    property string text
    property string icon
    property int pixelSize: Theme.footnote.pixelSize
    signal clicked()

    implicitWidth: row.implicitWidth + 8
    implicitHeight: Math.max(44, row.implicitHeight + 8)  // a comfortable target for a finger
    activeFocusOnTab: true
    Accessible.role: Accessible.Link
    Accessible.name: text
    Accessible.focusable: true
    Accessible.onPressAction: clicked()
    Keys.onSpacePressed: clicked()
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    Row {
        id: row
        x: 4
        anchors.verticalCenter: parent.verticalCenter
        spacing: 10
        opacity: tap.pressed ? 0.6 : 1.0
        SymbolIcon {
            visible: control.icon.length > 0
            name: control.icon
            color: Theme.accentGold
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: control.text
            textFormat: Text.PlainText
            color: Theme.accentGold
            font.pixelSize: control.pixelSize
            font.underline: control.activeFocus  // where the keyboard is
            anchors.verticalCenter: parent.verticalCenter
        }
    }
    FocusRing {
        shown: control.activeFocus
        radius: 6
    }
    TapHandler {
        id: tap
        onTapped: control.clicked()
    }
}
