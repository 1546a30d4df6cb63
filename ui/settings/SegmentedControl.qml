import QtQuick
import QtQuick.Templates as T
import Parvel

// A row of equal segments, one selected: page tabs to a screen reader, the
// current one checked. Tab reaches each segment; Space or Return selects it,
// Left and Right select the neighbour and move the focus there.
Rectangle {
    id: control

    property var labels: []
    property int current: 0
    signal selected(int index)

    function move(from, step) {
        const to = Math.max(0, Math.min(labels.length - 1, from + step))
        selected(to)
        tabs.itemAt(to).forceActiveFocus(Qt.TabFocusReason)
    }
    function focusCurrent() {
        tabs.itemAt(current).forceActiveFocus(Qt.OtherFocusReason)
    }

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
            id: tabs
            model: control.labels

            T.TabButton {
                id: segment

                required property int index
                required property string modelData
                readonly property bool chosen: index === control.current

                width: segments.width / control.labels.length
                height: segments.height
                text: modelData
                focusPolicy: Qt.StrongFocus
                autoExclusive: false
                checked: chosen
                Accessible.name: text
                // A press toggles `checked` itself: `current` decides, the binding stays.
                onClicked: {
                    control.selected(index)
                    checked = Qt.binding(() => segment.chosen)
                }
                Keys.onReturnPressed: control.selected(index)
                Keys.onEnterPressed: control.selected(index)
                Keys.onLeftPressed: control.move(index, -1)
                Keys.onRightPressed: control.move(index, 1)

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
