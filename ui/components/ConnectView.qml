import QtQuick
import QtQuick.Layouts
import Parvel

// Joins this computer to a library with a one-time connection code. Every
// field writes its model property on each keystroke, so what was typed
// survives the view closing, and the popover and the settings window show
// the same values. Failures reach the user through the host's Feedback.
Item {
    id: view

    required property ParvelModel model

    implicitWidth: column.implicitWidth + 28
    implicitHeight: column.implicitHeight + 28

    component Field: ColumnLayout {
        id: fieldRoot

        property string label
        property alias text: input.text
        signal edited(string text)

        Layout.fillWidth: true
        spacing: 5

        PlainLabel {
            text: fieldRoot.label
            font: Palvo.small
            color: Palvo.ink2
        }
        FieldFrame {
            id: input
            Layout.fillWidth: true
            placeholderText: fieldRoot.label
            onTextEdited: fieldRoot.edited(text)
        }
    }

    ColumnLayout {
        id: column
        x: 14
        y: 14
        width: parent.width - 28
        spacing: 14

        PlainLabel {
            Layout.fillWidth: true
            text: "Connect this computer"
            font: Palvo.sans(15, Font.Medium)
        }
        PlainLabel {
            Layout.fillWidth: true
            text: "On a connected computer, open Parvel → Settings → Your computers → Create connection code. Enter its one-time code here."
            font: Palvo.small
            color: Palvo.ink2
            wrapMode: Text.Wrap
        }
        Field {
            objectName: "serverField"
            label: "Server"
            text: view.model.serverURL
            onEdited: text => view.model.serverURL = text
        }
        Field {
            objectName: "deviceNameField"
            label: "This computer"
            text: view.model.deviceName
            onEdited: text => view.model.deviceName = text
        }
        Field {
            objectName: "codeField"
            label: "Connection code"
            text: view.model.connectionCode
            onEdited: text => view.model.connectionCode = text
        }
        PrimaryButton {
            objectName: "connectButton"
            Layout.fillWidth: true
            text: Rules.connectTitle(view.model.connecting)
            enabled: Rules.canConnect(view.model.connectionCode, view.model.connecting)
            opacity: enabled ? 1.0 : 0.5
            onClicked: view.model.connect()
        }
        PlainLabel {
            Layout.fillWidth: true
            text: "Your files stay in sync across connected computers."
            font: Palvo.small
            color: Palvo.ink2
            wrapMode: Text.Wrap
        }
    }
}
