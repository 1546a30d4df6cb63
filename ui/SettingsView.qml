import QtQuick
import QtQuick.Layouts
import Parvel

// The settings window's content: a header with the section switch, then the
// waiting view, the connect view or the selected section, then the status
// line. The window is kept and reused, so everything below lives as long as
// the window: closing and reopening it shows the same section.
Rectangle {
    id: view

    required property ParvelModel model
    property bool dark: false

    // 0 files, 1 computers, 2 preferences.
    property int tab: 0
    // The file whose access sheet is open (a SharedFile), else null.
    property var editing: null
    property string newPassword: ""
    property bool protectedEdit: true
    // The file awaiting delete confirmation, else null.
    property var deleting: null
    // The computer awaiting disconnect confirmation (a Device), else null.
    property var revoking: null
    property bool launchAtLogin: SettingsSupport.launchAtLogin()
    // The control that opened the sheet or question showing: the keyboard
    // focus goes back there when it closes (to the section switch when that
    // control has gone, as a deleted file's row).
    property Item opener: null

    function returnFocus() {
        Qt.callLater(() => {
            if (view.opener && view.opener.visible && view.opener.enabled)
                view.opener.forceActiveFocus(Qt.OtherFocusReason)
            else
                sectionSwitch.focusCurrent()
        })
    }

    // True while the window shows this view.
    readonly property bool onScreen: visible && Window.window !== null && Window.window.visible

    // Runs `then` once `handle` (a TaskHandle or null) has finished.
    function afterTask(handle, then) {
        if (!handle || handle.isFinished)
            then()
        else
            handle.finished.connect(then)
    }
    function appeared() {
        afterTask(model.refresh(), () => view.model.loadDevices())
    }

    Palvo.dark: dark
    color: Palvo.paper
    implicitWidth: 720
    implicitHeight: 540

    // Closing the window answers every open question with "Cancel": the
    // next showing starts from the section, not from a half-answered sheet.
    function dismissQuestions() {
        editing = null
        deleting = null
        revoking = null
    }

    onOnScreenChanged: onScreen ? appeared() : dismissQuestions()
    Component.onCompleted: if (onScreen) appeared()

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 24
        spacing: 16

        RowLayout {
            Layout.fillWidth: true

            PlainLabel {
                text: "Parvel"
                font: Palvo.h2
                Accessible.role: Accessible.Heading
            }
            Item { Layout.fillWidth: true }
            SegmentedControl {
                id: sectionSwitch
                objectName: "sectionSwitch"
                Layout.preferredWidth: 330
                labels: ["Files", "Your computers", "Settings"]
                current: view.tab
                onSelected: index => view.tab = index
            }
        }

        Loader {
            id: content
            objectName: "content"
            Layout.fillWidth: true
            Layout.fillHeight: true
            sourceComponent: {
                if (view.model.isLoadingConnection)
                    return waiting
                if (!view.model.connection)
                    return connect
                return view.tab === 0 ? files : view.tab === 1 ? macs : preferences
            }
        }

        Feedback {
            Layout.fillWidth: true
            model: view.model
        }
    }

    Component {
        id: waiting
        Item {
            KeychainWaitingView { width: parent.width }
        }
    }
    Component {
        id: connect
        Item {
            ConnectView { width: parent.width; model: view.model }
        }
    }
    Component {
        id: files
        FilesSection { settings: view }
    }
    Component {
        id: macs
        MacsSection { settings: view }
    }
    Component {
        id: preferences
        PreferencesSection { settings: view }
    }

    AccessSheet {
        objectName: "accessSheet"
        settings: view
    }

    ConfirmAlert {
        objectName: "deleteAlert"
        shown: !!view.deleting
        title: "Delete this file?"
        message: "Its share link will stop working on every computer."
        confirmText: "Delete"
        onConfirmed: {
            const file = view.deleting
            if (file)
                view.model.deleteFile(file)
        }
        onDismissed: {
            view.deleting = null
            view.returnFocus()
        }
    }

    ConfirmAlert {
        objectName: "disconnectAlert"
        shown: !!view.revoking
        title: "Disconnect this computer?"
        message: "It will need a new connection code to access your files."
        confirmText: "Disconnect"
        onConfirmed: {
            const device = view.revoking
            if (device)
                view.model.revoke(device)
        }
        onDismissed: {
            view.revoking = null
            view.returnFocus()
        }
    }
}
