import QtQuick
import QtQuick.Controls

// A plain text button in footnote size, tinted with the accent colour.
Button {
    id: control
    flat: true
    padding: 4
    Accessible.role: Accessible.Button
    Accessible.name: text
    contentItem: Text {
        text: control.text
        color: Theme.accentGold
        font: Theme.footnote
        opacity: control.down ? 0.6 : 1.0
    }
    background: Item {}
}
