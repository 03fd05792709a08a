import QtQuick
import QtQuick.Controls
import Nimbo.Session
import Nimbo.Account
import Nimbo.Chat

// Chooses between the sign-in screen and the signed-in navigation stack from
// session.isLoggedIn alone. Switching discards the other side with all it pushed.
Item {
    id: root
    required property SessionStore session

    Loader {
        id: content
        anchors.fill: parent
        sourceComponent: root.session.isLoggedIn ? signedIn : signedOut
    }

    Component {
        id: signedOut
        LoginView { session: root.session }
    }

    Component {
        id: signedIn
        StackView {
            id: chatStack
            initialItem: ChatView { session: root.session }
        }
    }
}
