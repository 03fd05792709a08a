import QtQuick

// A system-style symbol drawn from the Material Icons font. `name` is the symbol's
// name as the screens know it; `size` is its height in points.
Text {
    id: icon
    property string name
    property int size: 20

    readonly property var glyphs: ({
        "arrow.up": "arrow_upward",
        "ellipsis.circle": "more_horiz",
        "creditcard": "credit_card",
        "brain": "psychology",
        "hammer": "construction",
        "lock.shield": "shield",
        "iphone": "smartphone",
        "cloud": "cloud",
        "chevron.left": "chevron_left"
    })

    text: glyphs[name] !== undefined ? glyphs[name] : name
    textFormat: Text.PlainText
    font.family: "Material Icons"
    font.pixelSize: size
    renderType: Text.QtRendering
    Accessible.ignored: true
}
