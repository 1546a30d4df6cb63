import QtQuick
import QtQuick.Controls.Basic
import Parvel

// An item of the file actions menu; `destructive` draws it in the bad colour.
MenuItem {
    id: item

    property bool destructive: false

    font: Palvo.working
    Accessible.name: text

    contentItem: Text {
        leftPadding: 4
        text: item.text
        font: item.font
        color: item.destructive ? Palvo.bad : Palvo.ink
        textFormat: Text.PlainText
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        implicitWidth: 180
        implicitHeight: 28
        radius: 4
        color: item.highlighted ? Palvo.accentSoft : "transparent"
    }
}
