import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Session
import Nimbo.Ui
import Nimbo.Account

// The sign-in screen, inside its own navigation stack (bar hidden), from which the
// sign-up and password-reset screens are pushed.
StackView {
    id: navigation
    property SessionStore session

    readonly property LoginViewModel viewModel: LoginViewModel { session: navigation.session }

    Connections {
        target: navigation.viewModel
        function onShowSignupChanged() {
            if (navigation.viewModel.showSignup)
                navigation.push(signupPage, { session: navigation.session })
        }
        function onShowForgotPasswordChanged() {
            if (navigation.viewModel.showForgotPassword)
                navigation.push(forgotPage)
        }
    }

    Component {
        id: signupPage
        SignupView {
            StackView.onRemoved: navigation.viewModel.showSignup = false
        }
    }
    Component {
        id: forgotPage
        ForgotPasswordView {
            StackView.onRemoved: navigation.viewModel.showForgotPassword = false
        }
    }

    initialItem: Page {
        objectName: "loginPage"
        Accessible.name: "Sign in to Nimbo Chat"
        background: Rectangle { color: Theme.systemBackground }

        ScrollView {
            anchors.fill: parent
            contentWidth: availableWidth

            ColumnLayout {
                width: parent.width
                spacing: 14

                Item { Layout.preferredHeight: 96 }

                Label {
                    textFormat: Text.PlainText
                    Layout.alignment: Qt.AlignHCenter
                    text: "N\u00B7IMBO"
                    font.pixelSize: Theme.largeTitle.pixelSize
                    font.weight: Font.Black
                    color: Theme.accentGold
                    Accessible.role: Accessible.Heading
                    Accessible.name: "NIMBO"
                }
                Label {
                    textFormat: Text.PlainText
                    Layout.fillWidth: true
                    Layout.leftMargin: 24
                    Layout.rightMargin: 24
                    Layout.bottomMargin: 18
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                    text: "Sign in to Nimbo Chat"
                    font: Theme.title3
                    color: Theme.secondaryText
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }

                InputField {
                    Layout.leftMargin: 24
                    Layout.rightMargin: 24
                    objectName: "emailField"
                    placeholderText: "Email"
                    inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText
                    text: navigation.viewModel.email
                    onTextEdited: navigation.viewModel.email = text
                }
                InputField {
                    Layout.leftMargin: 24
                    Layout.rightMargin: 24
                    objectName: "passwordField"
                    placeholderText: "Password"
                    echoMode: TextInput.Password
                    inputMethodHints: Qt.ImhSensitiveData | Qt.ImhNoPredictiveText
                    text: navigation.viewModel.password
                    onTextEdited: navigation.viewModel.password = text
                    onAccepted: navigation.viewModel.doLogin()
                }
                MessageLine {
                    Layout.leftMargin: 24
                    Layout.rightMargin: 24
                    objectName: "errorLine"
                    text: navigation.viewModel.errorMessage
                }
                PrimaryButton {
                    Layout.leftMargin: 24
                    Layout.rightMargin: 24
                    objectName: "signInButton"
                    text: "Sign In"
                    busy: navigation.viewModel.isBusy
                    onClicked: navigation.viewModel.doLogin()
                }
                // One line while both links fit, one above the other with large text.
                GridLayout {
                    Layout.leftMargin: 20
                    Layout.rightMargin: 20
                    columns: forgotLink.implicitWidth + signupLink.implicitWidth + 48 <= parent.width - 40 ? 3 : 1
                    LinkButton {
                        id: forgotLink
                        objectName: "forgotLink"
                        text: "Forgot password?"
                        onClicked: navigation.viewModel.showForgotPassword = true
                    }
                    Item { Layout.fillWidth: true }
                    LinkButton {
                        id: signupLink
                        objectName: "signupLink"
                        text: "Sign up"
                        onClicked: navigation.viewModel.showSignup = true
                    }
                }
            }
        }
    }
}
