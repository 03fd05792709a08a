import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui
import Nimbo.Account

// The password-reset screen, pushed from the sign-in screen.
Page {
    id: page
    readonly property ForgotPasswordViewModel viewModel: ForgotPasswordViewModel {}

    title: "Forgot Password"
    Accessible.name: title
    background: Rectangle { color: Theme.systemBackground }
    header: NavigationBar {
        title: page.title
        onBack: page.StackView.view.pop()
    }

    ColumnLayout {
        x: 24
        width: parent.width - 48
        spacing: 18

        Label {
            textFormat: Text.PlainText
            Layout.topMargin: 20
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: "Reset your password"
            font: Theme.title2
            color: Theme.primaryText
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        Label {
            textFormat: Text.PlainText
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: "Enter your account email and we'll send you a reset link."
            font: Theme.subheadline
            color: Theme.secondaryText
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        InputField {
            objectName: "resetEmailField"
            placeholderText: "Email"
            color: Theme.primaryText
            inputMethodHints: Qt.ImhEmailCharactersOnly | Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText
            text: page.viewModel.email
            onTextEdited: page.viewModel.email = text
            fill: Theme.secondaryBackground
        }
        MessageLine {
            objectName: "resetInfoLine"
            text: page.viewModel.infoMessage
            color: Theme.secondaryText
        }
        PrimaryButton {
            objectName: "sendButton"
            text: "Send reset link"
            busy: page.viewModel.isBusy
            onClicked: page.viewModel.doSend()
        }
        LinkButton {
            objectName: "resetBackLink"
            text: "Back to sign in"
            Accessible.role: Accessible.Button  // goes back: a button, drawn like a link
            onClicked: page.StackView.view.pop()
        }
    }
}
