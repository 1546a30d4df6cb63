import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Parvel

// A modal question with "Cancel" and one destructive button. Shown exactly
// while `shown`; every way out (a button, Escape) ends in `dismissed`, so the
// field that drives it is cleared. Return cancels: it never confirms a
// destructive action.
Popup {
    id: alert

    property bool shown: false
    property string title
    property string message
    property string confirmText

    signal confirmed()
    signal dismissed()

    onShownChanged: shown ? open() : close()
    onClosed: dismissed()
    onOpened: cancelButton.forceActiveFocus(Qt.PopupFocusReason)

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: 320
    modal: true
    focus: true
    padding: 20
    closePolicy: Popup.CloseOnEscape

    background: Rectangle {
        color: Palvo.paper
        radius: 10
        border.color: Palvo.sheetLine
        border.width: Palvo.hairline
    }
    T.Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.25) }

    // The question's own dialog object is named by its title.
    Component.onCompleted: contentItem.parent.Accessible.name = Qt.binding(() => alert.title)

    contentItem: ColumnLayout {
        spacing: 12
        Keys.onReturnPressed: alert.close()
        Keys.onEnterPressed: alert.close()

        PlainLabel {
            Layout.fillWidth: true
            text: alert.title
            font: Palvo.sans(15, Font.Medium)
            wrapMode: Text.Wrap
        }
        PlainLabel {
            Layout.fillWidth: true
            text: alert.message
            color: Palvo.ink2
            wrapMode: Text.Wrap
        }
        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 8
            spacing: 8

            Item { Layout.fillWidth: true }
            PushButton {
                id: cancelButton
                objectName: "cancelButton"
                text: "Cancel"
                onClicked: alert.close()
            }
            PushButton {
                objectName: "confirmButton"
                text: alert.confirmText
                destructive: true
                onClicked: {
                    alert.confirmed()
                    alert.close()
                }
            }
        }
    }
}
