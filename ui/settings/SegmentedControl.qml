import QtQuick
import QtQuick.Templates as T
import Parvel

// A row of equal segments, one selected. Tab reaches each segment; Space or
// Return selects it, Left and Right move along.
Rectangle {
    id: control

    property var labels: []
    property int current: 0
    signal selected(int index)

    implicitWidth: 330
    implicitHeight: 28
    radius: 7
    color: Palvo.well
    border.color: Palvo.sheetLine
    border.width: Palvo.hairline
    Accessible.role: Accessible.PageTabList
    Accessible.name: "View"

    Row {
        id: segments
        anchors.fill: parent
        anchors.margins: 2

        Repeater {
            model: control.labels

            T.AbstractButton {
                id: segment

                required property int index
                required property string modelData
                readonly property bool chosen: index === control.current

                width: segments.width / control.labels.length
                height: segments.height
                text: modelData
                focusPolicy: Qt.StrongFocus
                checkable: false
                Accessible.role: Accessible.PageTab
                Accessible.name: text
                Accessible.checked: chosen
                onClicked: control.selected(index)
                Keys.onReturnPressed: control.selected(index)
                Keys.onEnterPressed: control.selected(index)
                Keys.onLeftPressed: control.selected(Math.max(0, control.current - 1))
                Keys.onRightPressed: control.selected(Math.min(control.labels.length - 1, control.current + 1))

                background: Rectangle {
                    radius: 5
                    // In dark the card colour equals the well's and every
                    // fill near it is too faint: the chosen segment gets an
                    // ink2 outline (over 5:1 against the track).
                    color: segment.chosen ? (Palvo.dark ? Palvo.sheetLine : Palvo.sheet) : "transparent"
                    border.width: segment.visualFocus ? 2 : (segment.chosen ? Palvo.hairline : 0)
                    border.color: segment.visualFocus ? Palvo.accent
                                                      : Palvo.dark ? Palvo.ink2 : Palvo.sheetLine
                }
                contentItem: Text {
                    text: segment.text
                    font: Palvo.sans(13, segment.chosen ? Font.Medium : Font.Normal)
                    color: segment.chosen ? Palvo.ink : Palvo.ink2
                    textFormat: Text.PlainText
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
            }
        }
    }
}
