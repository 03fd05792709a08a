import QtQuick
import QtQuick.Controls

Page {
    property var session
    title: "ChatView"
}
