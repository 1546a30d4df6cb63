import QtQuick
import QtQuick.Templates as T
import Parvel

// A switch with its label on the left and the track on the right; the
// accent shows it on. Space toggles it from the keyboard.
T.Switch {
    id: control

    implicitWidth: implicitContentWidth + spacing + implicitIndicatorWidth
    implicitHeight: Math.max(implicitContentHeight, implicitIndicatorHeight)
    spacing: 12
    padding: 0
    font: Palvo.working
    focusPolicy: Qt.StrongFocus
    Accessible.name: text

    contentItem: Text {
        text: control.text
        font: control.font
        color: Palvo.ink
        textFormat: Text.PlainText
        verticalAlignment: Text.AlignVCenter
        rightPadding: control.indicator.width + control.spacing
    }
    indicator: Rectangle {
        x: control.width - width
        y: (control.height - height) / 2
        implicitWidth: 32
        implicitHeight: 18
        radius: 9
        color: control.checked ? Palvo.accent : Palvo.well
        border.width: control.visualFocus ? 2 : Palvo.hairline
        border.color: control.visualFocus ? Palvo.accentStrong : Palvo.sheetLine

        Rectangle {
            x: control.checked ? parent.width - width - 2 : 2
            y: 2
            width: 14
            height: 14
            radius: 7
            color: Palvo.hex("#ffffff")
            border.color: Palvo.sheetLine
            border.width: Palvo.hairline
        }
    }
}
