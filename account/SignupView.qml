import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Session
import Nimbo.Ui
import Nimbo.Account

// The sign-up screen, pushed from the sign-in screen.
Page {
    id: page
    property SessionStore session
    readonly property SignupViewModel viewModel: SignupViewModel { session: page.session }

    title: "Sign Up"
    Accessible.name: title
    background: Rectangle { color: Theme.systemBackground }
    header: NavigationBar {
        title: page.title
        onBack: page.StackView.view.pop()
    }

    ScrollView {
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            x: 24
            width: parent.width - 48
            spacing: 12

            Label {
                textFormat: Text.PlainText
                Layout.topMargin: 12
                Layout.bottomMargin: 6
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: "Create your account"
                font: Theme.title2
                color: Theme.primaryText
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            InputField {
                objectName: "nameField"
                placeholderText: "Full name"
                text: page.viewModel.name
                onTextEdited: page.viewModel.name = text
            }
            InputField {
                objectName: "companyField"
                placeholderText: "Company name"
                text: page.viewModel.company
                onTextEdited: page.viewModel.company = text
            }
            InputField {
                objectName: "signupEmailField"
                placeholderText: "Email"
                inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText
                text: page.viewModel.email
                onTextEdited: page.viewModel.email = text
            }
            InputField {
                objectName: "signupPasswordField"
                placeholderText: "Password (min 8 characters)"
                accessibleName: "Password"  // the placeholder's hint reaches the description
                echoMode: TextInput.Password
                inputMethodHints: Qt.ImhSensitiveData | Qt.ImhNoPredictiveText
                text: page.viewModel.password
                onTextEdited: page.viewModel.password = text
            }
            InputField {
                objectName: "confirmField"
                placeholderText: "Confirm password"
                echoMode: TextInput.Password
                inputMethodHints: Qt.ImhSensitiveData | Qt.ImhNoPredictiveText
                text: page.viewModel.confirm
                onTextEdited: page.viewModel.confirm = text
            }
            MessageLine {
                objectName: "signupErrorLine"
                text: page.viewModel.errorMessage
            }
            MessageLine {
                objectName: "signupInfoLine"
                text: page.viewModel.infoMessage
                color: Theme.secondaryText
            }
            PrimaryButton {
                objectName: "signUpButton"
                text: "Sign Up"
                busy: page.viewModel.isBusy
                onClicked: page.viewModel.doSignup()
            }
            LinkButton {
                objectName: "signupBackLink"
                Layout.alignment: Qt.AlignHCenter
                text: "Back to sign in"
                Accessible.role: Accessible.Button  // goes back: a button, drawn like a link
                onClicked: page.StackView.view.pop()
            }
        }
    }
}
