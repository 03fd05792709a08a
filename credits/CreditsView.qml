import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Session
import Nimbo.Ui
import Nimbo.Credits

// The credits screen: which chat costs credits, the balance with its warnings, and
// the billing link when the balance is low, exhausted or unreadable.
Page {
    id: page
    objectName: "creditsPage"
    Accessible.name: "Credits & Billing"
    property SessionStore session

    readonly property CreditsViewModel viewModel: CreditsViewModel {
        objectName: "viewModel"
        // Shown: in a navigation stack, while on top and not on its way out; elsewhere, while visible.
        active: page.StackView.view ? page.StackView.status === StackView.Activating
                                      || page.StackView.status === StackView.Active
                                    : page.visible
    }

    background: Rectangle { color: Theme.systemBackground }
    header: NavigationBar {
        title: "Credits & Billing"
        onBack: if (page.StackView.view) page.StackView.view.pop()
    }

    ScrollView {
        id: scroller
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            x: Theme.padding
            width: scroller.availableWidth - 2 * Theme.padding
            spacing: 0

            ListSection {
                title: "Free vs. paid"
                PlanRow {
                    icon: "iphone"
                    title: "On-device chat"
                    detail: "Runs the on-device model directly on your phone. Always free -- no credits used, no internet round-trip billed."
                    badge: "FREE"
                    badgeColor: Theme.green
                }
            }

            ListSection {
                PlanRow {
                    icon: "cloud"
                    title: "Nimbo AI orchestrator chat"
                    detail: "The main chat screen (routed via the Nimbo AI orchestrator, /api/chat/orc) draws from your account's shared credit pool."
                    badge: "USES CREDITS"
                    badgeColor: Theme.orange
                }
            }

            ListSection {
                objectName: "balanceSection"
                title: "Balance"

                RowLayout {
                    objectName: "checkingBalance"
                    visible: page.viewModel.balanceSection === CreditsViewModel.Loading
                    spacing: 8
                    BusyIndicator {
                        implicitWidth: 22
                        implicitHeight: 22
                        running: parent.visible
                        Accessible.role: Accessible.Indicator
                        Accessible.name: "Checking balance…"
                    }
                    Label {
                        textFormat: Text.PlainText
                        text: "Checking balance…"
                        font: Theme.body
                        color: Theme.secondaryText
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }
                }

                ColumnLayout {
                    objectName: "balanceUnavailable"
                    visible: page.viewModel.balanceSection === CreditsViewModel.Unavailable
                    Layout.fillWidth: true
                    spacing: 6
                    Label {
                        textFormat: Text.PlainText
                        text: "Balance unavailable"
                        font.pixelSize: Theme.subheadline.pixelSize
                        font.weight: Font.Bold
                        color: Theme.primaryText
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }
                    Label {
                        objectName: "unavailableReason"
                        Layout.fillWidth: true
                        wrapMode: Text.Wrap
                        text: page.viewModel.unavailableReason
                        textFormat: Text.PlainText
                        font: Theme.caption
                        color: Theme.secondaryText
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }
                }

                ColumnLayout {
                    objectName: "balanceFigures"
                    visible: page.viewModel.balanceSection === CreditsViewModel.Balance
                    Layout.fillWidth: true
                    spacing: 10
                    FigureRow {
                        objectName: "remainingRow"
                        label: "Credits remaining"
                        value: page.viewModel.remainingText
                        valueBold: true
                        valueColor: page.viewModel.isOutOfCredits ? Theme.red
                                  : page.viewModel.isLowBalance ? Theme.orange : Theme.primaryText
                    }
                    FigureRow {
                        objectName: "lifetimeRow"
                        visible: page.viewModel.hasLifetimeUsage
                        label: "Lifetime usage"
                        value: page.viewModel.lifetimeUsageText
                        valueColor: Theme.secondaryText
                    }
                    Label {
                        textFormat: Text.PlainText
                        objectName: "balanceWarning"
                        visible: text.length > 0
                        Layout.fillWidth: true
                        wrapMode: Text.Wrap
                        text: page.viewModel.warningText
                        font: Theme.caption
                        color: page.viewModel.isOutOfCredits ? Theme.red : Theme.orange
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }
                }
            }

            ListSection {
                visible: page.viewModel.showTopUpLink
                LinkButton {
                    objectName: "topUpLink"
                    Layout.fillWidth: true
                    icon: "creditcard"
                    pixelSize: Theme.body.pixelSize
                    text: page.viewModel.topUpLabel
                    onClicked: page.viewModel.openTopUp()
                }
            }

            Item { Layout.preferredHeight: Theme.padding }
        }
    }

    // A list section: an optional header above a rounded group holding its rows.
    component ListSection: ColumnLayout {
        id: section
        property string title
        default property alias rows: group.data
        Layout.fillWidth: true
        Layout.topMargin: title.length > 0 ? 18 : 28
        spacing: 6

        Label {
            textFormat: Text.PlainText
            visible: section.title.length > 0
            Layout.leftMargin: Theme.padding
            text: section.title
            font.pixelSize: Theme.footnote.pixelSize
            font.capitalization: Font.AllUppercase
            color: Theme.secondaryText
            Accessible.role: Accessible.Heading
            Accessible.name: section.title
        }
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: group.implicitHeight + 24
            radius: Theme.cornerRadius
            color: Theme.secondaryBackground
            ColumnLayout {
                id: group
                anchors.fill: parent
                anchors.leftMargin: Theme.padding
                anchors.rightMargin: Theme.padding
                anchors.topMargin: 12
                anchors.bottomMargin: 12
                spacing: 0
            }
        }
    }

    // One chat mode: icon and title, what it is, and whether it costs credits.
    component PlanRow: ColumnLayout {
        id: plan
        property string icon
        property string title
        property string detail
        property string badge
        property color badgeColor
        Layout.fillWidth: true
        Layout.topMargin: 4
        Layout.bottomMargin: 4
        spacing: 6

        RowLayout {
            Layout.fillWidth: true
            spacing: 8
            SymbolIcon { name: plan.icon; size: 18; color: Theme.accentGold; Layout.alignment: Qt.AlignTop | Qt.AlignLeft }
            Label {
                textFormat: Text.PlainText
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: plan.title
                font.pixelSize: Theme.subheadline.pixelSize
                font.weight: Font.Bold
                color: Theme.primaryText
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }
        Label {
            textFormat: Text.PlainText
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: plan.detail
            font: Theme.caption
            color: Theme.secondaryText
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Label {
            textFormat: Text.PlainText
            text: plan.badge
            font.pixelSize: Theme.caption2.pixelSize
            font.weight: Font.Bold
            color: plan.badgeColor
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    // A label on the left and a figure on the right.
    component FigureRow: RowLayout {
        id: figure
        property string label
        property string value
        property bool valueBold: false
        property color valueColor
        Layout.fillWidth: true

        Label {
            textFormat: Text.PlainText
            Layout.fillWidth: true  // the figure on the right, the label wrapping when text is large
            wrapMode: Text.Wrap
            text: figure.label
            font: Theme.body
            color: Theme.primaryText
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Label {
            textFormat: Text.PlainText
            objectName: figure.objectName + "Value"
            text: figure.value
            font.pixelSize: Theme.body.pixelSize
            font.weight: figure.valueBold ? Font.Bold : Font.Normal
            color: figure.valueColor
            Accessible.role: Accessible.StaticText
            Accessible.name: figure.label + " " + text
        }
    }
}
