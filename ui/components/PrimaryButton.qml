import QtQuick
import QtQuick.Templates as T
import Parvel

// The primary action: near-black label on the accent in both appearances,
// full width, pressed at 0.85 opacity and 0.98 scale. No disabled look of its
// own: a caller that wants one dims the button.
T.Button {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth, implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    leftPadding: 0
    rightPadding: 0
    topPadding: 11
    bottomPadding: 11
    font: Palvo.sans(13, Font.Medium)
    scale: down ? 0.98 : 1.0
    focusPolicy: Qt.StrongFocus
    Accessible.name: text

    contentItem: Text {
        text: control.text
        font: control.font
        color: Palvo.hex("#1a1814")
        textFormat: Text.PlainText
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        opacity: control.down ? 0.85 : 1.0
    }

    background: Rectangle {
        color: Palvo.accent
        radius: 6
        opacity: control.down ? 0.85 : 1.0
        border.width: control.visualFocus ? 2 : 0
        border.color: Palvo.accentStrong
    }
}
