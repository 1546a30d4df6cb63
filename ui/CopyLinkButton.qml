import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Parvel

// Copies a file's link and confirms with a checkmark for 1.6 s; a second
// press restarts the 1.6 s. Leaving the screen (the row going, the popover
// closing) ends the confirmation at once.
T.AbstractButton {
    id: button

    required property ParvelModel model
    required property var file
    property bool copied: false

    implicitWidth: 28
    implicitHeight: 28
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Accessible.name: (copied ? "Link copied for " : "Copy link for ") + (file ? file.name : "")
    ToolTip.visible: hovered
    ToolTip.text: copied ? "Copied" : "Copy link"
    ToolTip.delay: 600

    onClicked: {
        model.copyLink(file, false)
        resetTimer.restart()
        copied = true
    }

    Timer {
        id: resetTimer
        interval: 1600
        onTriggered: button.copied = false
    }

    Connections {
        target: button.Window.window
        function onVisibleChanged() {
            if (!button.Window.window.visible) {
                resetTimer.stop()
                button.copied = false
            }
        }
    }

    contentItem: Item {
        SymbolImage {
            anchors.centerIn: parent
            width: 14
            height: 14
            name: button.copied ? "checkmark" : "doc.on.doc"
            color: button.copied ? Palvo.ok : Palvo.ink2
            Behavior on color {
                enabled: Palvo.motionAllowed
                ColorAnimation {
                    duration: Palvo.fast
                    easing.type: Easing.BezierSpline
                    easing.bezierCurve: Palvo.curve
                }
            }
        }
    }

    background: Rectangle {
        color: "transparent"
        radius: 4
        border.width: button.visualFocus ? 1 : 0
        border.color: Palvo.accent
    }
}
