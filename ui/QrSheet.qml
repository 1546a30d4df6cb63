import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Parvel

// A share link as a QR code, for opening it on a phone: the code, the link
// as plain text that can be selected, "Copy link" and "Done". Opened with
// show(file); it closes with its window.
Popup {
    id: sheet

    required property ParvelModel model
    property var file: null
    property bool copied: false
    readonly property string link: file ? file.url : ""
    readonly property bool windowShown: !!parent && !!parent.Window.window
                                        && parent.Window.window.visible

    function show(shared) {
        file = shared
        copied = false
        open()
    }

    onWindowShownChanged: if (!windowShown) close()
    onOpened: doneButton.forceActiveFocus(Qt.PopupFocusReason)

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(300, parent ? parent.width - 24 : 300)
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

    Timer {
        id: copiedTimer
        interval: 1600
        onTriggered: sheet.copied = false
    }

    contentItem: ColumnLayout {
        Accessible.role: Accessible.Dialog
        Accessible.name: "QR code for " + (sheet.file ? sheet.file.name : "")
        spacing: 14
        Keys.onReturnPressed: sheet.close()
        Keys.onEnterPressed: sheet.close()

        PlainLabel {
            Layout.fillWidth: true
            text: sheet.file ? sheet.file.name : ""
            font: Palvo.sans(13, Font.Medium)
            maximumLineCount: 1
            elide: Text.ElideMiddle
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        QrCode {
            objectName: "qrCode"
            Layout.alignment: Qt.AlignHCenter
            implicitWidth: 200
            implicitHeight: 200
            text: sheet.link
            Accessible.role: Accessible.Graphic
            Accessible.name: "QR code of the link"
        }
        TextEdit {
            objectName: "qrLink"
            Layout.fillWidth: true
            text: sheet.link
            textFormat: TextEdit.PlainText
            wrapMode: TextEdit.WrapAnywhere
            horizontalAlignment: TextEdit.AlignHCenter
            font: Palvo.mono(11)
            color: Palvo.ink2
            readOnly: true
            selectByMouse: true
            selectByKeyboard: true
            selectionColor: Palvo.accentSoft
            selectedTextColor: Palvo.ink
            activeFocusOnTab: true
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        RowLayout {
            Layout.fillWidth: true

            PushButton {
                objectName: "qrCopyButton"
                text: sheet.copied ? "Copied" : "Copy link"
                onClicked: {
                    sheet.model.copyLink(sheet.file, true)
                    sheet.copied = true
                    copiedTimer.restart()
                }
            }
            Item { Layout.fillWidth: true }
            PrimaryButton {
                id: doneButton
                objectName: "qrDoneButton"
                Layout.preferredWidth: implicitContentWidth + 40
                text: "Done"
                onClicked: sheet.close()
            }
        }
    }
}
