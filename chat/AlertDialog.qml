import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui

// The look of the screen's alerts: a centred modal card with a title, one line of
// message and a row of buttons (the `buttons` of the instance) under a separator.
// Modal: it takes the keyboard (Tab stays inside) and nothing beneath takes input.
Dialog {
    id: alert
    property string message
    property alias messageItem: messageLabel
    default property alias buttons: buttonRow.data

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(300 * Theme.textScale, parent ? parent.width - 48 : 300)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
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
        text: alert.title
        font: Theme.headline
        color: Theme.primaryText
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    contentItem: Label {
        id: messageLabel
        textFormat: Text.PlainText
        horizontalAlignment: Text.AlignHCenter
        wrapMode: Text.Wrap
        text: alert.message
        font: Theme.footnote
        color: Theme.primaryText
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
    }

    footer: ColumnLayout {
        spacing: 0
        Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }
        RowLayout { id: buttonRow; spacing: 0 }
    }
}
