import QtQuick
import QtQuick.Layouts
import Parvel

// Shown while the stored connection is being read, which may wait on the
// keyring's unlock prompt.
Item {
    implicitWidth: column.implicitWidth + 32
    implicitHeight: column.implicitHeight + 32

    ColumnLayout {
        id: column
        x: 16
        y: 16
        width: parent.width - 32
        spacing: 10

        PlainLabel {
            Layout.fillWidth: true
            text: "Connecting to your library…"
            font: Palvo.sans(15, Font.Medium)
            wrapMode: Text.Wrap
        }
        PlainLabel {
            Layout.fillWidth: true
            text: "If your keyring asks, unlock it so Parvel can read its saved connection."
            font: Palvo.small
            color: Palvo.ink2
            wrapMode: Text.Wrap
        }
    }
}
