import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Parvel

// The newest few shared files, each with its copy button and a context menu.
// Only the rows shown are ever built, however long the list is.
Sheet {
    id: card

    required property ParvelModel model
    required property int rows
    signal hidden()

    // Bumped on every assignment of the file list, so rows re-read their file.
    property int revision: 0

    // The ids of the files shown, in row order.
    readonly property var shownIds: {
        card.revision
        const ids = []
        for (let i = 0; i < card.rows; ++i)
            ids.push(card.model.files.at(i).id)
        return ids
    }

    Connections {
        target: card.model
        function onFilesChanged() { card.revision++ }
    }

    // The file whose copy button had the focus last. Rows are rebuilt when
    // their number changes (a status line takes a row's place) and re-read
    // their file when the list is assigned: the focus stays with the file.
    property string focusedId: ""
    function keepFocus() {
        Qt.callLater(() => {
            const row = rowsRepeater.itemAt(card.shownIds.indexOf(card.focusedId))
            const window = card.Window.window
            if (!row || !window || row.button.activeFocus)
                return
            const focused = window.activeFocusItem
            let lost = !focused || !focused.visible || !focused.enabled
                || (focused.copiesFile !== undefined && focused.file.id !== card.focusedId)
            // Taken back by a scope around the card (a closed menu gives it there).
            for (let up = card; up && !lost; up = up.parent)
                lost = up === focused
            if (lost)
                row.button.forceActiveFocus(Qt.TabFocusReason)
        })
    }
    onRevisionChanged: keepFocus()

    // A row that leaves the screen ends its confirmation at once; so does
    // closing the popover.
    CopyConfirmations {
        id: copiedLinks
    }
    QrSheet {
        id: qrSheet
        objectName: "qrSheet"
        model: card.model
    }
    onShownIdsChanged: copiedLinks.keepOnly(shownIds)
    Connections {
        target: card.Window.window
        function onVisibleChanged() {
            if (!card.Window.window.visible) {
                copiedLinks.clear()
                card.hidden()
            }
        }
    }

    RowLayout {
        Layout.fillWidth: true
        Layout.leftMargin: 12
        Layout.rightMargin: 12
        Layout.topMargin: 10
        Layout.bottomMargin: 10

        PlainLabel {
            text: "Recent files"
            font: Palvo.small
            color: Palvo.ink2
        }
        Item { Layout.fillWidth: true }
        PlainButton {
            objectName: "allFilesButton"
            text: "All files ↗"
            onClicked: card.model.showSettings()
        }
    }

    PlainLabel {
        Layout.fillWidth: true
        Layout.leftMargin: 12
        Layout.rightMargin: 12
        Layout.bottomMargin: 14
        visible: card.model.files.count === 0
        text: "Your shared files will appear here."
        font: Palvo.small
        color: Palvo.ink2
        wrapMode: Text.Wrap
    }

    Repeater {
        id: rowsRepeater
        objectName: "recentRows"
        model: card.rows
        onItemAdded: card.keepFocus()

        delegate: ColumnLayout {
            id: row

            required property int index
            readonly property var file: { card.revision; return card.model.files.at(index) }
            readonly property Item button: copyButton

            Layout.fillWidth: true
            spacing: 0

            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 1
                color: Palvo.sheetLine
            }

            RowLayout {
                Layout.fillWidth: true
                Layout.leftMargin: 12
                Layout.rightMargin: 12
                Layout.topMargin: 7
                Layout.bottomMargin: 7
                spacing: 9

                FileBadge {
                    name: row.file.name
                    compact: true
                }

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 3

                    PlainLabel {
                        id: nameLabel
                        Layout.fillWidth: true
                        text: row.file.name
                        elide: Text.ElideMiddle
                        maximumLineCount: 1
                        HoverHandler { id: nameHover }
                        ToolTip.visible: nameHover.hovered
                        ToolTip.text: row.file.name
                        ToolTip.delay: 600
                    }
                    RowLayout {
                        spacing: 4
                        PlainLabel {
                            id: accessLabel
                            text: row.file.isProtected ? "Password protected" : "Anyone with link"
                            font: Palvo.small
                            color: Palvo.ink2
                        }
                        PlainLabel {
                            text: "·"
                            Accessible.ignored: true
                            font: Palvo.small
                            color: Palvo.ink2
                        }
                        PlainLabel {
                            text: row.file.formattedSize
                            font: Palvo.mono(11)
                            color: Palvo.ink2
                        }
                    }
                }

                CopyLinkButton {
                    id: copyButton
                    model: card.model
                    file: row.file
                    confirmations: copiedLinks
                    Accessible.description: accessLabel.text + " · " + row.file.formattedSize
                    onActiveFocusChanged: if (activeFocus) card.focusedId = row.file.id
                    // The row's other actions, from the keyboard.
                    Keys.onMenuPressed: menu.popup(copyButton, 0, copyButton.height)
                    Keys.onPressed: event => {
                        if (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier)) {
                            menu.popup(copyButton, 0, copyButton.height)
                            event.accepted = true
                        }
                    }
                }
            }

            TapHandler {
                acceptedButtons: Qt.RightButton
                onTapped: menu.popup()
            }

            Connections {
                target: card
                function onHidden() { menu.close() }
            }

            Menu {
                id: menu
                title: "Actions for " + row.file.name
                onClosed: card.keepFocus()
                // Its own dialog object, the one a screen reader reads, gets the title.
                Component.onCompleted: contentItem.parent.Accessible.name = Qt.binding(() => menu.title)
                MenuItem {
                    text: "Copy link"
                    onTriggered: card.model.copyLink(row.file, true)
                }
                MenuItem {
                    text: "Open share page"
                    onTriggered: card.model.openLink(row.file)
                }
                MenuItem {
                    text: "Show QR code"
                    onTriggered: qrSheet.show(row.file)
                }
                MenuItem {
                    text: "Manage file"
                    onTriggered: card.model.showSettings()
                }
            }
        }
    }
}
