import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui

// Asked before a link in a reply is opened: the real host (or mail address) on a
// line of its own, "Open" and "Cancel". Nothing is opened unless "Open" is chosen.
AlertDialog {
    id: question
    objectName: "linkQuestion"
    property string url
    property string host
    signal openChosen(string url)

    title: "Open link?"
    message: host
    messageItem.wrapMode: Text.WrapAnywhere
    messageItem.font: Theme.subheadline

    function ask(target, name) {
        url = target
        host = name
        open()
    }

    AlertButton {
        id: cancelButton
        objectName: "linkCancelButton"
        focus: true
        text: "Cancel"
        font.weight: Font.DemiBold
        onClicked: question.close()
    }
    Rectangle { Layout.fillHeight: true; implicitWidth: 1; color: Theme.separator }
    AlertButton {
        objectName: "linkOpenButton"
        text: "Open"
        onClicked: {
            question.openChosen(question.url)
            question.close()
        }
    }
    onOpened: cancelButton.forceActiveFocus()
}
