import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// The bar of a pushed screen: a back control on the left (or, without it, an optional
// leading control), the title in the middle and an optional trailing control. Emits
// back() when the back control is tapped.
ToolBar {
    id: bar
    property string title
    property bool showBack: true
    default property alias trailing: trailingSlot.data
    property alias leading: leadingSlot.data
    signal back()

    implicitHeight: 48
    background: Rectangle { color: Theme.systemBackground }

    ToolButton {
        id: backButton
        visible: bar.showBack
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
        Accessible.role: Accessible.Button
        Accessible.name: "Back"
        onClicked: bar.back()
        FocusRing { shown: backButton.visualFocus; radius: 8 }
        contentItem: Row {
            spacing: 0
            SymbolIcon { name: "chevron.left"; size: 28; color: Theme.accentGold; anchors.verticalCenter: parent.verticalCenter }
            Text {
                text: "Back"
                textFormat: Text.PlainText
                color: Theme.accentGold
                font: Theme.body
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    Label {
        // A bar without a title has no nameless label for screen readers to stop at.
        visible: bar.title !== ""
        textFormat: Text.PlainText
        anchors.centerIn: parent
        width: parent.width - 2 * Math.max(backButton.width, leadingSlot.width, trailingSlot.width) - 16
        horizontalAlignment: Text.AlignHCenter
        elide: Text.ElideRight
        text: bar.title
        font: Theme.headline
        color: Theme.primaryText
        Accessible.role: Accessible.TitleBar
        Accessible.name: bar.title
    }

    Row {
        id: leadingSlot
        visible: !bar.showBack
        anchors.left: parent.left
        anchors.leftMargin: 4
        anchors.verticalCenter: parent.verticalCenter
    }

    Row {
        id: trailingSlot
        anchors.right: parent.right
        anchors.rightMargin: 4
        anchors.verticalCenter: parent.verticalCenter
    }
}
