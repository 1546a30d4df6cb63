import QtQuick
import Parvel

// The file type of `name` as a small tag: JPEG, GZ, MARK...
Rectangle {
    id: badge

    property string name
    property bool compact: false

    implicitWidth: compact ? 28 : 32
    implicitHeight: compact ? 32 : 40
    width: implicitWidth
    height: implicitHeight
    color: Palvo.paper
    radius: 4
    border.color: Palvo.sheetLine
    border.width: Palvo.hairline
    Accessible.ignored: true

    PlainLabel {
        anchors.centerIn: parent
        text: Rules.badgeLabel(badge.name)
        font: Palvo.mono(11)
        color: Palvo.ink2
        Accessible.ignored: true
    }
}
