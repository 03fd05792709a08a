import QtQuick
import QtQuick.Controls

// A link in footnote size, tinted with the accent colour; announced as a link.
Button {
    id: control
    flat: true
    padding: 4
    Accessible.role: Accessible.Link
    Accessible.name: text
    contentItem: Text {
        textFormat: Text.PlainText
        text: control.text
        color: Theme.accentGold
        font.pixelSize: Theme.footnote.pixelSize
        font.underline: control.visualFocus  // where the keyboard is
        opacity: control.down ? 0.6 : 1.0
    }
    background: Item {}
}
