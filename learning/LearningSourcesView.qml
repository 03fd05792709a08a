import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui
import Nimbo.Learning

// The learning-sources screen: one switch per category, a toast at the bottom and
// the disconnect confirmation as an action sheet.
Page {
    id: page
    objectName: "learningSourcesPage"
    background: Rectangle { color: Theme.systemBackground }
    header: NavigationBar {
        title: "Learning Sources"
        onBack: page.StackView.view.pop()
    }

    readonly property LearningSourcesViewModel viewModel: LearningSourcesViewModel {}

    StackView.onActivated: viewModel.refreshFromServer()

    ScrollView {
        id: scroller
        anchors.fill: parent
        contentWidth: availableWidth

        ColumnLayout {
            width: scroller.availableWidth
            spacing: 0

            ColumnLayout {
                Layout.fillWidth: true
                Layout.margins: Theme.padding
                Layout.bottomMargin: 12
                spacing: 6
                Label {
                    Layout.fillWidth: true
                    text: "Learning Sources"
                    font: Theme.title2
                    color: Theme.primaryText
                    wrapMode: Text.WordWrap
                    textFormat: Text.PlainText
                    Accessible.role: Accessible.Heading
                    Accessible.name: text
                }
                Label {
                    Layout.fillWidth: true
                    text: "Choose exactly what Nimbo can learn from on this device. Every category below is OFF by default and only turns on when you explicitly enable it. You can disconnect any category at any time, which immediately stops collection and lets you delete what's already been synced."
                    font: Theme.caption
                    color: Theme.secondaryText
                    wrapMode: Text.WordWrap
                    textFormat: Text.PlainText
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
            }

            Repeater {
                model: page.viewModel
                delegate: ColumnLayout {
                    id: row
                    required property int index
                    required property string categoryId
                    required property string title
                    required property string details
                    required property string syncedText
                    required property bool isOn
                    required property string permissionText
                    required property string permissionAction

                    Layout.fillWidth: true
                    Layout.leftMargin: Theme.padding
                    Layout.rightMargin: Theme.padding
                    spacing: 0

                    RowLayout {
                        Layout.fillWidth: true
                        Layout.topMargin: 10
                        Layout.bottomMargin: 10
                        spacing: 12

                        ColumnLayout {
                            Layout.fillWidth: true
                            Layout.alignment: Qt.AlignTop
                            spacing: 4
                            Label {
                                Layout.fillWidth: true
                                text: row.title
                                font: Theme.subheadline
                                color: Theme.primaryText
                                wrapMode: Text.WordWrap
                                textFormat: Text.PlainText
                                Accessible.role: Accessible.StaticText
                                Accessible.name: text
                            }
                            Label {
                                Layout.fillWidth: true
                                text: row.details
                                font: Theme.caption
                                color: Theme.secondaryText
                                wrapMode: Text.WordWrap
                                textFormat: Text.PlainText
                                Accessible.role: Accessible.StaticText
                                Accessible.name: text
                            }
                            Label {
                                objectName: "synced_" + row.categoryId
                                visible: row.syncedText !== ""
                                text: row.syncedText
                                font: Theme.caption2
                                color: Theme.secondaryText
                                textFormat: Text.PlainText
                                Accessible.role: Accessible.StaticText
                                Accessible.name: text
                            }
                            // The stored permission decision, and a way to change it.
                            RowLayout {
                                visible: row.permissionText !== ""
                                spacing: 8
                                Label {
                                    text: row.permissionText
                                    font: Theme.caption2
                                    color: Theme.secondaryText
                                    textFormat: Text.PlainText
                                    Accessible.role: Accessible.StaticText
                                    Accessible.name: text
                                }
                                AbstractButton {
                                    id: permissionButton
                                    objectName: "permissionAction_" + row.categoryId
                                    text: row.permissionAction
                                    focusPolicy: Qt.StrongFocus
                                    padding: 2
                                    onClicked: page.viewModel.changePermission(row.index)
                                    Accessible.role: Accessible.Button
                                    Accessible.name: row.permissionText + ", " + text
                                    contentItem: Text {
                                        text: permissionButton.text
                                        font: Theme.caption2
                                        color: Theme.accentGold
                                        textFormat: Text.PlainText
                                    }
                                    background: Rectangle {
                                        color: "transparent"
                                        radius: 4
                                        border.width: permissionButton.visualFocus ? 1 : 0
                                        border.color: Theme.accentGold
                                    }
                                }
                            }
                        }

                        ToggleSwitch {
                            id: toggle
                            objectName: "switch_" + row.categoryId
                            Layout.alignment: Qt.AlignTop
                            // The view model decides the value; a tap only asks for the change.
                            isOn: row.isOn
                            onClicked: page.viewModel.setSwitch(row.index, !row.isOn)
                            Accessible.name: row.title
                            Accessible.onPressAction: page.viewModel.setSwitch(row.index, !row.isOn)
                        }
                    }

                    Rectangle {
                        Layout.fillWidth: true
                        implicitHeight: 1
                        color: Theme.separator
                    }
                }
            }

            Item { implicitHeight: 72 }
        }
    }

    Rectangle {
        objectName: "toast"
        visible: page.viewModel.toastMessage !== ""
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 24
        width: Math.min(toastText.implicitWidth, parent.width - 2 * Theme.padding - 20) + 20
        height: toastText.implicitHeight + 20
        radius: 10
        color: Theme.secondaryBackground

        Label {
            id: toastText
            anchors.centerIn: parent
            width: parent.width - 20
            text: page.viewModel.toastMessage
            font: Theme.footnote
            color: Theme.primaryText
            wrapMode: Text.WordWrap
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignHCenter
            Accessible.role: Accessible.AlertMessage
            Accessible.name: text
        }
    }

    component SheetButton: AbstractButton {
        id: sheetButton
        property color tint: Theme.accentGold
        Layout.fillWidth: true
        implicitHeight: 56
        font: Theme.body
        focusPolicy: Qt.StrongFocus
        Accessible.role: Accessible.Button
        Accessible.name: text
        contentItem: Text {
            text: sheetButton.text
            font: sheetButton.font
            color: sheetButton.tint
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            color: sheetButton.pressed ? Theme.separator : "transparent"
            radius: 14
            border.width: sheetButton.visualFocus ? 2 : 0
            border.color: Theme.accentGold
        }
    }

    Connections {
        target: page.viewModel
        function onShowDisconnectConfirmChanged() {
            if (page.viewModel.showDisconnectConfirm)
                disconnectSheet.open()
            else
                disconnectSheet.close()
        }
    }

    Popup {
        id: disconnectSheet
        objectName: "disconnectSheet"
        parent: Overlay.overlay
        modal: true
        x: 8
        y: parent ? parent.height - height - 8 : 0
        width: parent ? parent.width - 16 : 0
        padding: 0
        // Modal: the keyboard moves into the sheet and stays there while it shows.
        focus: true
        background: null
        Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.5) }
        onClosed: page.viewModel.dismissDisconnect()

        contentItem: ColumnLayout {
            spacing: 8

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: choices.implicitHeight
                radius: 14
                color: Theme.filledBackground

                ColumnLayout {
                    id: choices
                    width: parent.width
                    spacing: 0

                    Label {
                        Layout.fillWidth: true
                        Layout.topMargin: 14
                        Layout.leftMargin: Theme.padding
                        Layout.rightMargin: Theme.padding
                        text: page.viewModel.disconnectTitle
                        font: Theme.footnote
                        color: Theme.secondaryText
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.WordWrap
                        textFormat: Text.PlainText
                        Accessible.role: Accessible.Heading
                        Accessible.name: text
                    }
                    Label {
                        Layout.fillWidth: true
                        Layout.topMargin: 4
                        Layout.bottomMargin: 14
                        Layout.leftMargin: Theme.padding
                        Layout.rightMargin: Theme.padding
                        text: page.viewModel.disconnectMessage
                        font: Theme.footnote
                        color: Theme.secondaryText
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.WordWrap
                        textFormat: Text.PlainText
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }
                    Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }
                    SheetButton {
                        objectName: "disconnectDeleteButton"
                        focus: true
                        text: "Disconnect & delete data"
                        tint: Theme.red
                        onClicked: page.viewModel.confirmDisconnect(true)
                    }
                    Rectangle { Layout.fillWidth: true; implicitHeight: 1; color: Theme.separator }
                    SheetButton {
                        objectName: "disconnectOnlyButton"
                        text: "Disconnect only"
                        onClicked: page.viewModel.confirmDisconnect(false)
                    }
                }
            }

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 56
                radius: 14
                color: Theme.filledBackground

                SheetButton {
                    objectName: "disconnectCancelButton"
                    anchors.fill: parent
                    text: "Cancel"
                    font: Theme.headline
                    onClicked: page.viewModel.dismissDisconnect()
                }
            }
        }
    }
}
