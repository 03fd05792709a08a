import QtQuick
import QtQuick.Controls
import Nimbo.Session
import Nimbo.Ui
import Nimbo.Learning

// The one window: phone-sized, always dark, with RootView as its content.
ApplicationWindow {
    id: window
    required property SessionStore session

    width: Theme.windowWidth
    height: Theme.windowHeight
    visible: true
    title: "NimboChat"
    color: Theme.systemBackground

    RootView {
        anchors.fill: parent
        session: window.session
    }
    PermissionPromptHost { anchors.fill: parent }
    TextSizeShortcuts {}
}
