import QtQuick
import QtQuick.Controls
import Nimbo.Session
import Nimbo.Account

// Chooses between the sign-in screen and the signed-in navigation stack from
// session.isLoggedIn alone. Switching discards the other side with all it pushed.
Item {
    id: root
    required property SessionStore session

    // The sign-in screen, or the signed-in stack loaded by address (see SignedInStack).
    function show() {
        if (session.isLoggedIn) content.setSource("SignedInStack.qml", { session: session })
        else content.sourceComponent = signedOut
    }
    Component.onCompleted: show()
    Connections {
        target: root.session
        function onIsLoggedInChanged() { root.show() }
    }

    Loader {
        id: content
        anchors.fill: parent
    }

    Component {
        id: signedOut
        LoginView { session: root.session }
    }
}
