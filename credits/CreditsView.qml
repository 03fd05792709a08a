import QtQuick
import QtQuick.Controls

Page {
    title: "CreditsView"
}
