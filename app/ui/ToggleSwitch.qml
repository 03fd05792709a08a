import QtQuick
import QtQuick.Controls

// A phone-style on/off switch without text of its own: the label beside it names it
// (give it Accessible.name). Green when on. Its owner decides the value: it shows
// `isOn`, and a tap or Space only emits clicked(). It stays checkable so that a screen
// reader meets a check box with its state (Qt announces a switch that is not
// checkable as a push button, whatever Accessible.role says).
Switch {
    id: toggle
    property bool isOn
    checked: isOn
    onToggled: checked = Qt.binding(() => toggle.isOn)
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
