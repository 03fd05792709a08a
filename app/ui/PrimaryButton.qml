import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Material
import QtQuick.Layouts

// Full-width gold button with black text; shows a small black spinner before its
// label while `busy`, and is disabled while busy (handing the keyboard back, if it has it).
Button {
    id: control
    property bool busy: false

    Layout.fillWidth: true
    readonly property FocusHandOff handOff: FocusHandOff { control: control; disabled: control.busy }
    implicitHeight: Math.max(48, contentItem.implicitHeight + 16)
    Accessible.role: Accessible.Button
    Accessible.name: text

    contentItem: Item {
        implicitWidth: row.implicitWidth
        implicitHeight: row.implicitHeight

        Row {
            id: row
            spacing: 8
            anchors.centerIn: parent

            BusyIndicator {
                visible: control.busy
                running: control.busy
                width: 22
                height: 22
                Material.accent: Theme.black
                anchors.verticalCenter: parent.verticalCenter
                Accessible.ignored: true
            }
            Text {
                textFormat: Text.PlainText
                text: control.text
                color: Theme.black
                font.pixelSize: Theme.body.pixelSize
                font.weight: Font.Bold
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }
    background: Rectangle {
        radius: Theme.cornerRadius
        color: Theme.accentGold
        opacity: control.down ? 0.8 : 1.0
        FocusRing { shown: control.visualFocus }
    }
}
