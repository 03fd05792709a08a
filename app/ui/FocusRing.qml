import QtQuick

// Where the keyboard is: a gold ring just outside its parent control while `shown`
// (bind it to the control's visualFocus, or activeFocus for a plain Item).
Rectangle {
    property bool shown: false
    objectName: "focusRing"
    anchors.fill: parent
    anchors.margins: -3
    visible: shown
    color: "transparent"
    radius: Theme.cornerRadius + 3
    border.width: 2
    border.color: Theme.accentGold
}
