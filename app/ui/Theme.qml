pragma Singleton
import QtQuick
import Nimbo.Ui

// Colours, type styles and spacings shared by every screen. The app is dark only.
// Every type style follows the reader's text size (TextScale).
QtObject {
    readonly property color accentGold: Qt.rgba(0.83, 0.64, 0.29, 1)
    readonly property color black: "#000000"
    readonly property color primaryText: "#FFFFFF"
    readonly property color secondaryText: Qt.rgba(235 / 255, 235 / 255, 245 / 255, 0.6)
    readonly property color systemBackground: "#000000"
    readonly property color secondaryBackground: "#1C1C1E"
    readonly property color filledBackground: "#2C2C2E"
    readonly property color separator: "#38383A"
    readonly property color red: "#FF453A"
    readonly property color orange: "#FF9F0A"
    readonly property color green: "#30D158"
    readonly property color codeBackground: "#111113"

    readonly property int padding: 16
    readonly property int cornerRadius: 10
    readonly property int windowWidth: 390
    readonly property int windowHeight: 844

    readonly property real textScale: TextScale.factor
    function scaled(size) { return Math.round(size * textScale) }
    readonly property font codeBody: Qt.font({ family: "monospace", pixelSize: scaled(15) })

    readonly property font largeTitle: Qt.font({ pixelSize: scaled(30), weight: Font.Black })
    readonly property font title2: Qt.font({ pixelSize: scaled(22), weight: Font.Bold })
    readonly property font title3: Qt.font({ pixelSize: scaled(20) })
    readonly property font headline: Qt.font({ pixelSize: scaled(17), weight: Font.DemiBold })
    readonly property font body: Qt.font({ pixelSize: scaled(17) })
    readonly property font subheadline: Qt.font({ pixelSize: scaled(15) })
    readonly property font footnote: Qt.font({ pixelSize: scaled(13) })
    readonly property font caption: Qt.font({ pixelSize: scaled(12) })
    readonly property font caption2: Qt.font({ pixelSize: scaled(11) })
}
