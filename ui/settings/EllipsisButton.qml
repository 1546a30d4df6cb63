import QtQuick
import QtQuick.Templates as T
import Parvel

// A borderless button showing three dots, 25 points wide, that opens a menu.
T.Button {
    id: control

    implicitWidth: 25
    implicitHeight: 22
    focusPolicy: Qt.StrongFocus
    Accessible.role: Accessible.ButtonMenu

    background: Rectangle {
        radius: 4
        color: control.down ? Palvo.well : "transparent"
        border.width: control.visualFocus ? 2 : 0
        border.color: Palvo.accent
    }
    contentItem: Item {
        Row {
            anchors.centerIn: parent
            spacing: 3
            Repeater {
                model: 3
                Rectangle {
                    width: 3
                    height: 3
                    radius: 1.5
                    color: Palvo.ink2
                }
            }
        }
    }
}
