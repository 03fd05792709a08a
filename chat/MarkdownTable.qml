import QtQuick
import QtQuick.Controls
import Nimbo.Ui

// A Markdown table: a grid of cells, the header row in bold, scrolling sideways
// when wider than the bubble.
Flickable {
    id: table
    objectName: "markdownTable"
    required property var rows  // the header row first; each cell {rich, plain, links}
    signal linkChosen(string url, string host)

    readonly property int columns: rows.reduce((widest, row) => Math.max(widest, row.length), 0)
    // Every cell of a column as wide as the column's widest (up to a limit; longer text wraps).
    readonly property var columnWidths: {
        const widths = []
        for (let c = 0; c < columns; ++c) {
            let widest = 0
            for (const row of rows)
                if (row[c]) for (const line of row[c].plain.split("\u2028"))
                    widest = Math.max(widest, metrics.advanceWidth(line) * (row === rows[0] ? 1.1 : 1.0))
            widths.push(Math.min(Math.ceil(widest) + 4, 220 * Theme.textScale))
        }
        return widths
    }
    FontMetrics { id: metrics; font.pixelSize: Theme.subheadline.pixelSize }
    readonly property var cells: {
        const flat = []
        rows.forEach((row, r) => {
            for (let c = 0; c < columns; ++c)
                flat.push({ inline: row[c] || { rich: "", plain: "", links: [] }, isHeader: r === 0, column: c })
        })
        return flat
    }

    implicitHeight: grid.height + (contentWidth > width ? 10 : 0)
    contentWidth: grid.width
    contentHeight: grid.height
    flickableDirection: Flickable.HorizontalFlick
    boundsBehavior: Flickable.StopAtBounds
    clip: true
    ScrollBar.horizontal: ScrollBar { policy: table.contentWidth > table.width ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff }
    Accessible.role: Accessible.Table
    Accessible.name: "Table"

    Grid {
        id: grid
        columns: Math.max(1, table.columns)
        spacing: 1
        Repeater {
            model: table.cells
            delegate: Rectangle {
                required property var modelData
                width: cellText.width + 12
                height: cellText.height + 8
                color: modelData.isHeader ? Theme.filledBackground : Theme.codeBackground
                BlockText {
                    id: cellText
                    x: 6
                    y: 4
                    inline: parent.modelData.inline
                    width: table.columnWidths[parent.modelData.column]
                    activeFocusOnTab: false
                    font.pixelSize: Theme.subheadline.pixelSize
                    font.bold: parent.modelData.isHeader
                    onLinkChosen: (url, host) => table.linkChosen(url, host)
                }
            }
        }
    }
}
