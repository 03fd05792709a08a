import QtQuick
import Nimbo.Ui

// Ctrl+Plus, Ctrl+Minus and Ctrl+0 change the text size wherever the focus is.
Item {
    Shortcut {
        sequences: [StandardKey.ZoomIn, "Ctrl+="]
        context: Qt.ApplicationShortcut
        onActivated: TextScale.larger()
    }
    Shortcut {
        sequences: [StandardKey.ZoomOut]
        context: Qt.ApplicationShortcut
        onActivated: TextScale.smaller()
    }
    Shortcut {
        sequence: "Ctrl+0"
        context: Qt.ApplicationShortcut
        onActivated: TextScale.reset()
    }
}
