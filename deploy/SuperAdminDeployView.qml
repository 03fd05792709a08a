import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui
import Nimbo.Deploy

// The deploy console: checks super-admin access, then lets the user start the deploy
// workflow for test or prod and follows the run with its jobs and steps.
Page {
    id: page
    objectName: "deployPage"
    Accessible.name: "Deploy"

    readonly property SuperAdminDeployViewModel viewModel: SuperAdminDeployViewModel {
        objectName: "viewModel"
        // Shown: in a navigation stack, while on top and not on its way out; elsewhere, while visible.
        active: page.StackView.view ? page.StackView.status === StackView.Activating
                                      || page.StackView.status === StackView.Active
                                    : page.visible
    }

    background: Rectangle { color: Theme.systemBackground }
    header: NavigationBar {
        title: "Deploy"
        onBack: if (page.StackView.view) page.StackView.view.pop()
    }

    ColumnLayout {
        objectName: "checkingAccess"
        visible: page.viewModel.access === SuperAdminDeployViewModel.Checking
        anchors.centerIn: parent
        spacing: 8
        BusyIndicator {
            Layout.alignment: Qt.AlignHCenter
            running: parent.visible
            Accessible.role: Accessible.Indicator
            Accessible.name: "Checking access…"
        }
        Label {
            textFormat: Text.PlainText
            Layout.alignment: Qt.AlignHCenter
            text: "Checking access…"
            color: Theme.secondaryText
            font: Theme.body
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    ColumnLayout {
        objectName: "lockNotice"
        visible: page.viewModel.access === SuperAdminDeployViewModel.Denied
        anchors.centerIn: parent
        spacing: 10
        SymbolIcon {
            Layout.alignment: Qt.AlignHCenter
            name: "lock.shield"
            size: 40
            color: Theme.secondaryText
        }
        Label {
            textFormat: Text.PlainText
            Layout.alignment: Qt.AlignHCenter
            text: "Superadmin access required"
            font: Theme.headline
            color: Theme.primaryText
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    ScrollView {
        id: scroller
        objectName: "deployBody"
        visible: page.viewModel.access === SuperAdminDeployViewModel.Allowed
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            x: Theme.padding
            width: scroller.availableWidth - 2 * Theme.padding
            spacing: 14

            Item { Layout.preferredHeight: 2 }

            Text {
                textFormat: Text.PlainText
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: "Runs the channel-sequenced deploy workflow: secondary channel deploys + "
                      + "verifies first, then primary, then both are re-checked for redundancy. "
                      + "Always run test before prod."
                font: Theme.footnote
                color: Theme.secondaryText
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            // Segmented picker of the environment.
            Rectangle {
                objectName: "environmentPicker"
                Layout.fillWidth: true
                implicitHeight: 34
                radius: 8
                color: Theme.filledBackground
                Accessible.role: Accessible.PageTabList
                Accessible.name: "Environment"

                Row {
                    anchors.fill: parent
                    anchors.margins: 2
                    Repeater {
                        model: page.viewModel.environments
                        delegate: Button {
                            id: segment
                            required property string modelData
                            objectName: "environment_" + modelData
                            width: parent.width / 2
                            height: parent.height
                            topInset: 0
                            bottomInset: 0
                            leftInset: 0
                            rightInset: 0
                            // Follows the view model only: tapping the selected segment again keeps it selected.
                            checked: page.viewModel.environment === modelData
                            onClicked: page.viewModel.environment = modelData
                            Accessible.role: Accessible.PageTab
                            Accessible.name: modelData
                            Accessible.checkable: true
                            Accessible.checked: checked
                            contentItem: Text {
                                textFormat: Text.PlainText
                                text: segment.modelData
                                horizontalAlignment: Text.AlignHCenter
                                verticalAlignment: Text.AlignVCenter
                                color: Theme.primaryText
                                font.pixelSize: Theme.footnote.pixelSize
                                font.weight: segment.checked ? Font.DemiBold : Font.Normal
                            }
                            background: Rectangle {
                                radius: 7
                                color: segment.checked ? Theme.separator : "transparent"
                                FocusRing { shown: segment.visualFocus; anchors.margins: 1; radius: 7 }
                            }
                        }
                    }
                }
            }

            Button {
                id: trigger
                objectName: "triggerButton"
                Layout.fillWidth: true
                implicitHeight: 48
                topInset: 0
                bottomInset: 0
                readonly property FocusHandOff handOff: FocusHandOff {
                    control: trigger
                    disabled: page.viewModel.isTriggering
                }
                onClicked: page.viewModel.onDeployTapped()
                Accessible.role: Accessible.Button
                Accessible.name: page.viewModel.triggerLabel
                contentItem: Item {
                    BusyIndicator {
                        anchors.centerIn: parent
                        width: 24
                        height: 24
                        visible: page.viewModel.isTriggering
                        running: visible
                        Accessible.ignored: true
                    }
                    Text {
                        textFormat: Text.PlainText
                        anchors.centerIn: parent
                        visible: !page.viewModel.isTriggering
                        text: page.viewModel.triggerLabel
                        color: page.viewModel.isProd ? Theme.primaryText : Theme.black
                        font.pixelSize: Theme.body.pixelSize
                        font.weight: Font.Bold
                    }
                }
                background: Rectangle {
                    objectName: "triggerBackground"
                    radius: Theme.cornerRadius
                    color: page.viewModel.isProd ? Theme.red : Theme.accentGold
                    opacity: trigger.enabled ? (trigger.down ? 0.8 : 1.0) : 0.6
                    FocusRing { shown: trigger.visualFocus }
                }
            }

            MessageLine {
                objectName: "errorLine"
                text: page.viewModel.errorMessage
            }

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 1
                visible: page.viewModel.runs.length > 0
                color: Theme.separator
            }

            Text {
                textFormat: Text.PlainText
                objectName: "waitingLine"
                visible: page.viewModel.isWaitingForRun
                text: "Waiting for the run to appear…"
                font: Theme.footnote
                color: Theme.secondaryText
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            Repeater {
                objectName: "runCards"
                model: page.viewModel.runs
                delegate: RunCard {}
            }

            Item { Layout.preferredHeight: Theme.padding }
        }
    }

    // One run: its number and badge, then each job with its badge and its steps.
    component RunCard: Rectangle {
        id: card
        required property var modelData
        Layout.fillWidth: true
        implicitHeight: cardColumn.implicitHeight + 20
        radius: 10
        color: Qt.rgba(Theme.secondaryText.r, Theme.secondaryText.g, Theme.secondaryText.b, 0.08)
        Accessible.role: Accessible.Grouping
        Accessible.name: card.modelData.title + ", " + card.modelData.badge

        ColumnLayout {
            id: cardColumn
            anchors.fill: parent
            anchors.margins: 10
            spacing: 6

            RowLayout {
                Layout.fillWidth: true
                Text {
                    Layout.fillWidth: true
                    wrapMode: Text.WrapAnywhere
                    text: card.modelData.title
                    textFormat: Text.PlainText
                    color: Theme.primaryText
                    font.pixelSize: Theme.subheadline.pixelSize
                    font.weight: Font.Bold
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
                Rectangle {
                    Layout.maximumWidth: cardColumn.width / 2
                    implicitWidth: runBadge.implicitWidth + 16
                    implicitHeight: runBadge.implicitHeight + 6
                    radius: 6
                    color: Qt.rgba(Theme.secondaryText.r, Theme.secondaryText.g, Theme.secondaryText.b, 0.15)
                    Text {
                        id: runBadge
                        anchors.centerIn: parent
                        width: Math.min(implicitWidth, parent.width - 16)
                        elide: Text.ElideRight
                        text: card.modelData.badge
                        textFormat: Text.PlainText
                        font: Theme.caption
                        color: Theme.primaryText
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }
                }
            }

            Repeater {
                model: card.modelData.jobs
                delegate: ColumnLayout {
                    id: job
                    required property var modelData
                    Layout.fillWidth: true
                    spacing: 6
                    RowLayout {
                        Layout.fillWidth: true
                        Text {
                            Layout.fillWidth: true
                            wrapMode: Text.WrapAnywhere
                            text: job.modelData.name
                            textFormat: Text.PlainText
                            color: Theme.primaryText
                            font.pixelSize: Theme.caption.pixelSize
                            font.weight: Font.Bold
                            Accessible.role: Accessible.StaticText
                            Accessible.name: text
                        }
                        Text {
                            text: job.modelData.badge
                            textFormat: Text.PlainText
                            font: Theme.caption2
                            color: Theme.secondaryText
                            Accessible.role: Accessible.StaticText
                            Accessible.name: text
                        }
                    }
                    Repeater {
                        model: job.modelData.steps
                        delegate: Text {
                            required property string modelData
                            Layout.leftMargin: 12
                            Layout.fillWidth: true
                            text: modelData
                            textFormat: Text.PlainText
                            font: Theme.caption2
                            color: Theme.secondaryText
                            elide: Text.ElideRight
                            Accessible.role: Accessible.StaticText
                            Accessible.name: text
                        }
                    }
                }
            }
        }
    }
}
