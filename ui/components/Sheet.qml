import QtQuick
import QtQuick.Layouts
import Parvel

// A card: white (dark: warm grey) rounded rectangle with a hairline outline.
// It adds no inset; its content is stacked top to bottom and sets the height
// (give each piece Layout.fillWidth: true).
Rectangle {
    id: sheet

    default property alias content: body.data

    implicitWidth: body.implicitWidth
    implicitHeight: body.implicitHeight
    color: Palvo.sheet
    radius: 8
    border.color: Palvo.sheetLine
    border.width: Palvo.hairline

    ColumnLayout {
        id: body
        anchors.fill: parent
        spacing: 0
    }
}
