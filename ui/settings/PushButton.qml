import QtQuick
import QtQuick.Templates as T
import Parvel

// The ordinary button of the settings window: the label on the card colour
// with a hairline outline. `destructive` draws the label in the bad colour.
T.Button {
    id: control

    property bool destructive: false

    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    leftPadding: 12
    rightPadding: 12
    topPadding: 5
    bottomPadding: 5
    font: Palvo.working
    focusPolicy: Qt.StrongFocus
    opacity: enabled ? 1.0 : 0.5
    Accessible.name: text

    contentItem: Text {
        text: control.text
        font: control.font
        color: control.destructive ? Palvo.bad : Palvo.ink
        textFormat: Text.PlainText
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: 6
        color: control.down ? Palvo.well : Palvo.sheet
        border.width: control.visualFocus ? 2 : Palvo.hairline
        border.color: control.visualFocus ? Palvo.accent : Palvo.sheetLine
    }
}
