import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Parvel

// Every shared file in one card. The list creates rows only for what is on
// screen and reuses them, so a library of thousands opens at once; and it
// keeps its scroll position when the list is replaced (a refresh, a deletion,
// an access change), which a list view would otherwise reset to the top.
ColumnLayout {
    id: section

    required property Item settings
    readonly property ParvelModel model: settings.model

    spacing: 12

    RowLayout {
        Layout.fillWidth: true

        PlainLabel {
            objectName: "fileCount"
            text: section.model.files.count + " shared files"
            font: Palvo.mono(12)
            color: Palvo.ink2
        }
        Item { Layout.fillWidth: true }
        PushButton {
            objectName: "refreshButton"
            text: "Refresh"
            onClicked: section.model.refresh(true)
        }
    }

    Item {
        id: area
        Layout.fillWidth: true
        Layout.fillHeight: true

        Rectangle {
            id: card
            objectName: "filesCard"
            // Full width, its right edge under the Refresh button's; the
            // scroll bar sits inside it, over the rows' right margin.
            width: area.width
            height: Math.min(area.height, (list.count > 0 ? list.contentHeight : empty.implicitHeight) + 2)
            color: Palvo.sheet
            radius: 8
            border.color: Palvo.sheetLine
            border.width: Palvo.hairline

            PlainLabel {
                id: empty
                objectName: "emptyText"
                visible: list.count === 0
                width: parent.width
                padding: 30
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: "Drop files here, or share them from your file manager, to get started."
                color: Palvo.ink2
            }

            ListView {
                id: list
                objectName: "fileList"
                Accessible.role: Accessible.List
                Accessible.name: "Shared files"

                property real keptY: 0

                function keepPosition() {
                    const top = originY
                    const bottom = Math.max(top, top + contentHeight - height)
                    contentY = Math.max(top, Math.min(keptY, bottom))
                }

                anchors.fill: parent
                anchors.margins: 1
                clip: true
                model: section.model.files
                cacheBuffer: 0
                reuseItems: true
                boundsBehavior: Flickable.StopAtBounds
                activeFocusOnTab: false
                ScrollBar.vertical: scrollBar

                delegate: FileRow {
                    width: list.width
                    onActionsRequested: (file, anchor) => actions.show(file, anchor)
                    onCopyRequested: file => section.model.copyLink(file)
                }

                Connections {
                    target: section.model.files
                    function onModelAboutToBeReset() {
                        list.keptY = list.contentY
                    }
                    function onModelReset() {
                        // The view puts itself back at the top while it
                        // handles the reset, before or after this handler.
                        list.keepPosition()
                        Qt.callLater(list.keepPosition)
                    }
                }
            }
        }

        ScrollBar {
            id: scrollBar
            objectName: "filesScrollBar"
            readonly property bool overflows: list.contentHeight > list.height + 0.5
            anchors.right: card.right
            anchors.top: card.top
            anchors.bottom: card.bottom
            anchors.margins: 2
            // Only a list longer than the card has one, and then always.
            policy: overflows ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
            Accessible.name: "Files"
        }
    }

    Connections {
        target: section.settings
        function onOnScreenChanged() {
            if (!section.settings.onScreen)
                actions.close()
        }
    }

    QrSheet {
        id: qrSheet
        objectName: "qrSheet"
        model: section.model
    }

    // One menu for every row: the rows stay cheap to create.
    Menu {
        id: actions
        objectName: "fileActions"
        title: actions.file ? "Actions for " + actions.file.name : ""
        Component.onCompleted: contentItem.parent.Accessible.name = Qt.binding(() => actions.title)

        property var file: null

        function show(file, anchor) {
            actions.file = file
            section.settings.opener = anchor
            popup(anchor, 0, anchor.height)
        }

        ActionItem {
            text: "Open share page"
            onTriggered: section.model.openLink(actions.file)
        }
        ActionItem {
            text: "Show QR code"
            onTriggered: qrSheet.show(actions.file)
        }
        ActionItem {
            text: "Change access…"
            onTriggered: {
                section.settings.protectedEdit = actions.file.isProtected
                section.settings.newPassword = ""
                section.settings.editing = actions.file
            }
        }
        MenuSeparator {
            contentItem: Rectangle {
                implicitHeight: 1
                color: Palvo.sheetLine
            }
        }
        ActionItem {
            text: "Delete…"
            destructive: true
            onTriggered: section.settings.deleting = actions.file
        }

        background: Rectangle {
            implicitWidth: 180
            color: Palvo.sheet
            radius: 6
            border.color: Palvo.sheetLine
            border.width: Palvo.hairline
        }
    }
}
