import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Nimbo.Ui

// The update offer: "Update" opens the store page, "Later" only dismisses.
AlertDialog {
    id: updateAlert
    objectName: "updateAlert"
    signal update()
    title: "Update available"

    AlertButton {
        objectName: "updateButton"
        focus: true
        text: "Update"
        onClicked: {
            updateAlert.update()
            updateAlert.close()
        }
    }
    Rectangle { Layout.fillHeight: true; implicitWidth: 1; color: Theme.separator }
    AlertButton {
        objectName: "laterButton"
        text: "Later"
        font.weight: Font.DemiBold
        onClicked: updateAlert.close()
    }
}
