import QtQuick
import QtQuick.Templates as T
import Parvel

// A switch with its label on the left and the track on the right; the
// accent shows it on. Off, the track is outlined and the knob drawn in ink2,
// so the switch stands out from the paper (3:1 at least) in light and dark.
// Space toggles it from the keyboard.
T.Switch {
    id: control

    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: Math.max(implicitContentHeight, implicitIndicatorHeight)
    spacing: 12
    padding: 0
    // The track's room on the right, counted once.
    rightPadding: implicitIndicatorWidth + spacing
    font: Palvo.working
    focusPolicy: Qt.StrongFocus
    Accessible.name: text

    contentItem: Text {
        text: control.text
        font: control.font
        color: Palvo.ink
        textFormat: Text.PlainText
        verticalAlignment: Text.AlignVCenter
    }
    indicator: Rectangle {
        x: control.width - width
        y: (control.height - height) / 2
        implicitWidth: 32
        implicitHeight: 18
        radius: 9
        color: control.checked ? Palvo.accent : Palvo.well
        border.width: control.visualFocus ? 2 : Palvo.hairline
        border.color: control.visualFocus ? Palvo.accentStrong
                                          : control.checked ? Palvo.accent : Palvo.ink2

        Rectangle {
            x: control.checked ? parent.width - width - 3 : 3
            y: 3
            width: 12
            height: 12
            radius: 6
            color: control.checked ? Palvo.hex("#ffffff") : Palvo.ink2
        }
    }
}
