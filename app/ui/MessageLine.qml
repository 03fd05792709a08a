import QtQuick
import QtQuick.Layouts

// One line of feedback under a form (an error in red, or a neutral note). Hidden
// while its text is empty.
Text {
    Layout.fillWidth: true
    visible: text.length > 0
    wrapMode: Text.Wrap
    textFormat: Text.PlainText  // server texts are shown as they are, never as markup
    font: Theme.footnote
    color: Theme.red
    Accessible.role: Accessible.StaticText
    Accessible.name: text
}
