import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Parvel

// The popover: header, then the waiting view, the connect view or the upload
// and recent-files cards, the status line, and the bottom bar. A function of
// the model's state; every action is the model's.
Rectangle {
    id: root

    required property ParvelModel model
    // Set by the host: this window's appearance.
    property bool dark: false

    readonly property bool connected: model.connection !== null && model.connection !== undefined
    readonly property bool statusShown: model.error !== "" || model.message !== ""
    // The refresh started when the view came on screen; cancelled when it goes.
    property TaskHandle appearRefresh: null

    // Set by the popover window where the desktop can show see-through
    // corners; square elsewhere.
    property int cornerRadius: 0

    Palvo.dark: dark
    implicitWidth: Palvo.popoverWidth
    implicitHeight: 560
    color: Palvo.chrome
    // The window's edge: without it the popover melts into a light panel.
    radius: cornerRadius
    border.width: Palvo.hairline
    border.color: Palvo.line

    palette.window: Palvo.sheet
    palette.windowText: Palvo.ink
    palette.base: Palvo.paper
    palette.text: Palvo.ink
    palette.button: Palvo.sheet
    palette.buttonText: Palvo.ink
    palette.highlight: Palvo.accent
    palette.highlightedText: Palvo.hex("#1a1814")
    palette.light: Palvo.sheet
    palette.midlight: Palvo.well
    palette.mid: Palvo.sheetLine
    palette.dark: Palvo.ink2
    palette.toolTipBase: Palvo.sheet
    palette.toolTipText: Palvo.ink

    function appeared() {
        appearRefresh = model.refresh()
    }

    function disappeared() {
        if (appearRefresh && !appearRefresh.isFinished)
            appearRefresh.cancel()
        appearRefresh = null
    }

    Component.onCompleted: if (Window.window && Window.window.visible) appeared()

    Connections {
        target: root.Window.window
        function onVisibleChanged() {
            if (root.Window.window.visible)
                root.appeared()
            else
                root.disappeared()
        }
    }

    Shortcut {
        sequences: ["Ctrl+,"]
        onActivated: root.model.showSettings()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 14
            Layout.bottomMargin: 14

            PlainLabel {
                text: "Parvel"
                font: Palvo.sans(15, Font.DemiBold)
                Accessible.role: Accessible.Heading
            }
            Item { Layout.fillWidth: true }
            PlainLabel {
                visible: root.model.isUploading
                text: "Uploading"
                font: Palvo.small
                color: Palvo.ink2
            }
        }

        Loader {
            id: content
            Layout.fillWidth: true
            Layout.fillHeight: !root.model.isLoadingConnection && !root.connected
            Layout.leftMargin: 10
            Layout.rightMargin: 10
            sourceComponent: root.model.isLoadingConnection ? waiting
                           : !root.connected ? connect : cards
        }

        Feedback {
            Layout.fillWidth: true
            Layout.leftMargin: 14
            Layout.rightMargin: 14
            Layout.topMargin: root.statusShown ? 8 : 0
            model: root.model
        }

        Item {
            Layout.fillHeight: true
            Layout.fillWidth: true
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 12
            Layout.bottomMargin: 12

            PlainButton {
                objectName: "settingsButton"
                text: "Settings"
                onClicked: root.model.showSettings()
            }
            Item { Layout.fillWidth: true }
            PlainButton {
                objectName: "refreshButton"
                visible: root.connected
                enabled: !root.model.isRefreshing
                text: "Refresh"
                onClicked: root.model.refresh()
            }
        }
    }

    Component {
        id: waiting
        KeychainWaitingView {}
    }

    Component {
        id: connect
        ScrollView {
            ScrollBar.vertical.policy: ScrollBar.AsNeeded
            contentWidth: availableWidth
            ConnectView {
                width: parent ? parent.width : implicitWidth
                model: root.model
            }
        }
    }

    Component {
        id: cards
        ColumnLayout {
            spacing: 8
            UploadCard {
                objectName: "uploadCard"
                Layout.fillWidth: true
                model: root.model
            }
            RecentFilesCard {
                objectName: "recentFilesCard"
                Layout.fillWidth: true
                model: root.model
                rows: Rules.recentRowCount(root.statusShown, root.model.usePassword,
                                           root.model.files.count)
            }
        }
    }
}
