import QtQuick
import QtQuick.Layouts
import Parvel

// "Settings": starting at login, what this computer is connected to, the
// version, the limits, the update page and quitting.
ColumnLayout {
    id: section

    required property Item settings
    readonly property ParvelModel model: settings.model

    spacing: 18

    PlainLabel {
        text: "Preferences"
        font: Palvo.sans(15, Font.Medium)
    }
    ToggleSwitch {
        objectName: "loginSwitch"
        text: "Open Parvel at login"
        checked: section.settings.launchAtLogin
        onToggled: {
            section.settings.launchAtLogin = checked
            // After a failure this is the state the entry really is in.
            section.settings.launchAtLogin = SettingsSupport.setLaunchAtLogin(section.model, checked)
        }
    }
    TextEdit {
        Layout.fillWidth: true
        text: SettingsSupport.connectedTo(section.model.connection, section.model.serverURL)
        font: Palvo.mono(11)
        color: Palvo.ink2
        textFormat: TextEdit.PlainText
        wrapMode: TextEdit.WrapAnywhere
        readOnly: true
        selectByMouse: true
        selectionColor: Palvo.accentSoft
        selectedTextColor: Palvo.ink
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }
    PlainLabel {
        text: SettingsSupport.versionLine
        font: Palvo.small
        color: Palvo.ink2
    }
    PlainLabel {
        Layout.fillWidth: true
        text: "Uploads are limited to 5 GB per file. Zip folders before sharing them. Password changes invalidate open share-page sessions; a download link already issued can remain usable for up to 60 seconds."
        font: Palvo.small
        color: Palvo.ink2
        wrapMode: Text.Wrap
    }
    PushButton {
        objectName: "checkUpdatesButton"
        text: "Check for updates"
        onClicked: SettingsSupport.openInstaller(section.model)
    }
    PushButton {
        objectName: "quitButton"
        text: "Quit Parvel"
        onClicked: Qt.quit()
    }
    Item { Layout.fillHeight: true }
}
