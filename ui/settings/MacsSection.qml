import QtQuick
import QtQuick.Layouts
import Parvel

// "Your computers": one-time connection codes for another computer, the
// installer, and the computers of this library. Reloads the list each time
// it comes on screen.
ColumnLayout {
    id: section

    required property Item settings
    readonly property ParvelModel model: settings.model
    readonly property bool onScreen: visible && Window.window !== null && Window.window.visible

    spacing: 16
    onOnScreenChanged: if (onScreen) model.loadDevices()
    Component.onCompleted: if (onScreen) model.loadDevices()

    PlainLabel {
        text: "Connect another computer"
        font: Palvo.sans(15, Font.Medium)
    }
    PlainLabel {
        Layout.fillWidth: true
        text: "Install Parvel on your other computer, then enter a one-time connection code."
        color: Palvo.ink2
        wrapMode: Text.Wrap
    }
    RowLayout {
        spacing: 8
        PushButton {
            objectName: "createCodeButton"
            text: "Create connection code"
            onClicked: section.model.createPairing()
        }
        PushButton {
            objectName: "downloadInstallerButton"
            text: "Download installer"
            onClicked: SettingsSupport.openInstaller(section.model)
        }
    }

    Rectangle {
        objectName: "pairingCard"
        Layout.fillWidth: true
        visible: section.model.pairing !== null && section.model.pairing !== undefined
        implicitHeight: pairing.implicitHeight + 32
        color: Palvo.sheet
        radius: 8
        border.color: Palvo.sheetLine
        border.width: Palvo.hairline

        ColumnLayout {
            id: pairing
            anchors.fill: parent
            anchors.margins: 16
            spacing: 8

            TextEdit {
                objectName: "pairingCode"
                text: section.model.pairing ? section.model.pairing.code : ""
                font: Palvo.mono(24)
                color: Palvo.ink
                textFormat: TextEdit.PlainText
                readOnly: true
                selectByMouse: true
                selectByKeyboard: true
                selectionColor: Palvo.accentSoft
                selectedTextColor: Palvo.ink
                activeFocusOnTab: true
                Accessible.role: Accessible.StaticText
                Accessible.name: "Connection code " + text
            }
            PlainLabel {
                text: "Expires after 10 minutes. Works once."
                font: Palvo.small
                color: Palvo.ink2
            }
            PushButton {
                objectName: "copyCodeButton"
                text: "Copy code"
                onClicked: section.model.copy(section.model.pairing.code)
            }
        }
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: 1
        color: Palvo.line
    }

    PlainLabel {
        text: "Connected computers"
        font: Palvo.sans(15, Font.Medium)
    }

    ListView {
        objectName: "deviceList"
        Layout.fillWidth: true
        Layout.fillHeight: true
        clip: true
        spacing: 6
        boundsBehavior: Flickable.StopAtBounds
        activeFocusOnTab: false
        model: section.model.devices

        delegate: RowLayout {
            id: row

            required property var device
            required property string deviceId
            required property string name

            width: ListView.view.width
            height: 28
            spacing: 8

            PlainLabel {
                text: row.name
                // The current computer's name says so where it is read.
                Accessible.name: row.deviceId === section.model.currentDeviceID ? text + ", " + thisMac.text : text
                elide: Text.ElideRight
                Layout.maximumWidth: row.width - 200
                Layout.alignment: Qt.AlignBaseline
            }
            // The smaller tag sits on the name's baseline.
            PlainLabel {
                id: thisMac
                objectName: "thisMac"
                Layout.alignment: Qt.AlignBaseline
                Accessible.ignored: true
                visible: row.deviceId === section.model.currentDeviceID
                text: "This computer"
                font: Palvo.small
                color: Palvo.ink2
            }
            Item { Layout.fillWidth: true }
            PushButton {
                id: disconnectButton
                objectName: "disconnectButton"
                visible: SettingsSupport.canDisconnect(row.deviceId, section.model.currentDeviceID)
                text: "Disconnect…"
                Accessible.name: "Disconnect " + row.name + "…"
                onClicked: {
                    section.settings.opener = disconnectButton
                    section.settings.revoking = row.device
                }
            }
        }
    }
}
