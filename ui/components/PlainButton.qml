import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Parvel

// A borderless text button in the small style, dimmed while disabled.
T.Button {
    id: control

    property color textColor: Palvo.ink2
    property string toolTip

    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    padding: 0
    font: Palvo.small
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    opacity: enabled ? (down ? 0.7 : 1.0) : 0.5
    Accessible.name: text
    ToolTip.visible: toolTip !== "" && hovered
    ToolTip.text: toolTip
    ToolTip.delay: 600

    contentItem: Text {
        text: control.text
        font: control.font
        color: control.textColor
        textFormat: Text.PlainText
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        color: "transparent"
        radius: 3
        border.width: control.visualFocus ? 1 : 0
        border.color: Palvo.accent
    }
}
