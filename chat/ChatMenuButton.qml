import QtQuick
import QtQuick.Controls
import Nimbo.Ui
import Nimbo.Chat

// The chat screen's menu: always its three entries, each pushing its screen.
ToolButton {
    id: button
    required property ChatViewModel viewModel

    component MenuEntry: MenuItem {
        id: entry
        property string symbol
        Accessible.role: Accessible.MenuItem
        Accessible.name: text
        contentItem: Row {
            spacing: 12
            SymbolIcon {
                name: entry.symbol
                size: 20
                color: Theme.primaryText
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                textFormat: Text.PlainText
                text: entry.text
                font: Theme.body
                color: Theme.primaryText
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    objectName: "menuButton"
    Accessible.role: Accessible.ButtonMenu
    Accessible.name: "Menu"
    contentItem: SymbolIcon { name: "ellipsis.circle"; size: 26; color: Theme.accentGold }
    onClicked: menu.open()

    Menu {
        id: menu
        objectName: "chatMenu"
        modal: true  // takes the keyboard; nothing beneath takes input while it is open
        dim: false
        x: button.width - width
        y: button.height
        MenuEntry {
            objectName: "creditsEntry"
            text: "Credits & Billing"
            symbol: "creditcard"
            onTriggered: button.viewModel.showCredits = true
        }
        MenuEntry {
            objectName: "learningEntry"
            text: "Learning Sources"
            symbol: "brain"
            onTriggered: button.viewModel.showLearningSources = true
        }
        MenuEntry {
            objectName: "deployEntry"
            text: "Deploy (superadmin)"
            symbol: "hammer"
            onTriggered: button.viewModel.showSuperAdminDeploy = true
        }
    }
}
