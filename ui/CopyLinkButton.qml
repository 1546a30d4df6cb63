import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Parvel

// Copies a file's link and confirms with a checkmark for 1.6 s; a second
// press restarts the 1.6 s. The confirmation is kept by the card, by file id,
// so rebuilding the row (each refresh does) does not end it early.
T.AbstractButton {
    id: button

    required property ParvelModel model
    required property var file
    required property CopyConfirmations confirmations
    readonly property bool copied: confirmations.ids.indexOf(file.id) >= 0
    // Tells the card's focus keeping which file this button copies.
    readonly property bool copiesFile: true

    implicitWidth: 28
    implicitHeight: 28
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Accessible.name: (copied ? "Link copied for " : "Copy link for ") + file.name
    ToolTip.visible: hovered
    ToolTip.text: copied ? "Copied" : "Copy link"
    ToolTip.delay: 600
    // Space presses it as any button; Return and Enter too, as on a row.
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    onClicked: {
        model.copyLink(file, false)
        confirmations.confirm(file.id)
    }

    // The copy symbol and the checkmark cross-fade (at once when motion is
    // not allowed).
    component Symbol: SymbolImage {
        required property bool shown
        anchors.centerIn: parent
        width: 14
        height: 14
        opacity: shown ? 1 : 0
        visible: opacity > 0
        Behavior on opacity {
            enabled: Palvo.motionAllowed
            NumberAnimation {
                duration: Palvo.fast
                easing.type: Easing.BezierSpline
                easing.bezierCurve: Palvo.curve
            }
        }
    }

    contentItem: Item {
        Symbol {
            objectName: "copySymbol"
            name: "doc.on.doc"
            color: Palvo.ink2
            shown: !button.copied
        }
        Symbol {
            objectName: "copiedSymbol"
            name: "checkmark"
            color: Palvo.ok
            shown: button.copied
        }
    }

    background: Rectangle {
        color: "transparent"
        radius: 4
        border.width: button.visualFocus ? 1 : 0
        border.color: Palvo.accent
    }
}
