import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Parvel

// Changes who may download a file: with a password of at least four
// characters, or anyone with the link. Open exactly while the settings view's
// `editing` holds a file; it closes only once the change request has ended,
// whether it succeeded or not (a failure shows in the status line).
Popup {
    id: sheet

    required property Item settings
    readonly property bool shown: !!settings.editing
    readonly property bool canSave: SettingsSupport.canSaveAccess(settings.protectedEdit,
                                                                 settings.newPassword)

    function save() {
        if (!canSave)
            return
        const file = settings.editing
        const password = settings.protectedEdit ? settings.newPassword : null
        settings.afterTask(settings.model.changePassword(file, password),
                           () => sheet.saved(file.id))
    }
    // The sheet may have been dismissed meanwhile (the window closed) and
    // opened again for another file: that one stays.
    function saved(id) {
        if (settings.editing && settings.editing.id === id)
            settings.editing = null
    }

    onShownChanged: shown ? open() : close()
    // Escape closes it without going through `editing`; every other way
    // clears `editing` first (and must not write it again while `shown` is
    // still being updated).
    onClosed: {
        if (settings.editing)
            settings.editing = null
        settings.returnFocus()
    }
    onOpened: (settings.protectedEdit ? passwordField : protectSwitch).forceActiveFocus(Qt.PopupFocusReason)

    // Switching protection on leads straight to the field to type in.
    Connections {
        target: sheet.settings
        function onProtectedEditChanged() {
            if (sheet.opened && sheet.settings.protectedEdit)
                passwordField.forceActiveFocus(Qt.TabFocusReason)
        }
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: 400
    modal: true
    focus: true
    padding: 24
    closePolicy: Popup.CloseOnEscape

    background: Rectangle {
        color: Palvo.paper
        radius: 10
        border.color: Palvo.sheetLine
        border.width: Palvo.hairline
    }
    T.Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.25) }

    // The sheet's own dialog object gets the name; its content is no dialog.
    Component.onCompleted: contentItem.parent.Accessible.name = "Link access"

    contentItem: ColumnLayout {
        spacing: 16
        // Return saves from anywhere in the sheet, as a default button would.
        Keys.onReturnPressed: sheet.save()
        Keys.onEnterPressed: sheet.save()

        PlainLabel {
            text: "Link access"
            font: Palvo.h2
            Accessible.role: Accessible.Heading
        }
        PlainLabel {
            objectName: "sheetFileName"
            Layout.fillWidth: true
            text: sheet.settings.editing ? sheet.settings.editing.name : ""
            wrapMode: Text.WrapAnywhere
            maximumLineCount: 2
            elide: Text.ElideRight
        }
        ToggleSwitch {
            id: protectSwitch
            objectName: "requirePassword"
            Layout.fillWidth: true
            text: "Require a password"
            checked: sheet.settings.protectedEdit
            onToggled: sheet.settings.protectedEdit = checked
        }
        FieldFrame {
            id: passwordField
            objectName: "passwordField"
            Layout.fillWidth: true
            visible: sheet.settings.protectedEdit
            echoMode: TextInput.Password
            placeholderText: "New password, at least 4 characters"
            text: sheet.settings.newPassword
            onTextEdited: sheet.settings.newPassword = text
        }
        RowLayout {
            Layout.fillWidth: true

            PushButton {
                objectName: "cancelButton"
                text: "Cancel"
                onClicked: sheet.settings.editing = null
            }
            Item { Layout.fillWidth: true }
            PushButton {
                objectName: "saveButton"
                text: "Save access"
                enabled: sheet.canSave
                onClicked: sheet.save()
            }
        }
    }
}
