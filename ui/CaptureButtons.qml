import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Parvel

// Beside "Add files": share a screenshot, share the clipboard. Both make a
// new selection, so both rest while an upload runs.
RowLayout {
    id: buttons

    required property ParvelModel model

    spacing: 2

    component SymbolButton: T.AbstractButton {
        id: control

        required property string symbol

        implicitWidth: 28
        implicitHeight: 28
        enabled: !buttons.model.isUploading
        opacity: enabled ? (down ? 0.7 : 1.0) : 0.5
        focusPolicy: Qt.StrongFocus
        hoverEnabled: true
        Accessible.role: Accessible.Button
        Accessible.name: text
        ToolTip.visible: hovered
        ToolTip.text: text
        ToolTip.delay: 600
        Keys.onReturnPressed: clicked()
        Keys.onEnterPressed: clicked()

        contentItem: Item {
            SymbolImage {
                anchors.centerIn: parent
                width: 15
                height: 15
                name: control.symbol
                color: Palvo.ink2
            }
        }
        background: Rectangle {
            radius: 6
            color: control.hovered ? Palvo.well : "transparent"
            border.width: control.visualFocus ? 1 : 0
            border.color: Palvo.accent
        }
    }

    SymbolButton {
        objectName: "screenshotButton"
        text: "Share a screenshot…"
        symbol: "camera.viewfinder"
        onClicked: buttons.model.shareScreenshot()
    }
    SymbolButton {
        objectName: "clipboardButton"
        text: "Share clipboard"
        symbol: "doc.on.clipboard"
        onClicked: buttons.model.shareClipboard()
    }
}
