import QtQuick
import QtQuick.Controls
import Nimbo.Session
import Nimbo.Chat

// The signed-in navigation stack, rooted at the chat screen. RootView loads it by address
// when someone signs in, so the chat screen and all it pushes are compiled and
// registered then, not while the app starts on the sign-in screen.
StackView {
    id: chatStack
    required property SessionStore session
    initialItem: ChatView { session: chatStack.session }
}
