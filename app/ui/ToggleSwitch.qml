import QtQuick
import QtQuick.Controls

// A phone-style on/off switch without text of its own: the label beside it names it
// (give it Accessible.name). Green when on.
Switch {
    id: toggle
    padding: 0
    contentItem: Item { implicitWidth: 51; implicitHeight: 31 }
    indicator: Rectangle {
        implicitWidth: 51
        implicitHeight: 31
        radius: height / 2
        color: toggle.checked ? Theme.green : Theme.filledBackground
        border.color: toggle.checked ? Theme.green : Theme.separator
        Rectangle {
            x: toggle.checked ? parent.width - width - 2 : 2
            anchors.verticalCenter: parent.verticalCenter
            width: 27
            height: 27
            radius: height / 2
            color: toggle.pressed ? "#E5E5EA" : "#FFFFFF"
        }
        FocusRing { shown: toggle.visualFocus; radius: height / 2 + 3 }
    }
}
