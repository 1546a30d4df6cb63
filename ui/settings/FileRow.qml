import QtQuick
import QtQuick.Layouts
import Parvel

// One shared file: badge, name, size and access, "Copy link" and the
// actions button. A fixed height, so the list knows its length without
// creating every row.
Item {
    id: row

    required property int index
    required property var file
    required property string name
    required property string formattedSize
    required property bool isProtected

    signal actionsRequested(var file, Item anchor)
    signal copyRequested(var file)

    implicitHeight: 65
    Accessible.role: Accessible.ListItem
    Accessible.name: row.name

    // Tab goes from row to row in the list's order: the reused rows' own
    // order as items is not the list's.
    function focusRow(step) {
        const view = row.ListView.view
        const next = row.index + step
        if (!view || next < 0 || next >= view.count)
            return false
        view.positionViewAtIndex(next, ListView.Contain)
        const target = view.itemAtIndex(next)
        const button = target ? (step > 0 ? target.firstButton : target.lastButton) : null
        if (button)
            button.forceActiveFocus(Qt.TabFocusReason)
        return button !== null
    }
    readonly property Item firstButton: copyButton
    readonly property Item lastButton: more

    // Tabbing onto a row that is partly outside the list scrolls it in.
    function reveal(focused) {
        if (focused && row.ListView.view)
            row.ListView.view.positionViewAtIndex(row.index, ListView.Contain)
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: 12
        anchors.bottomMargin: 13
        spacing: 12

        FileBadge {
            name: row.name
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 4

            PlainLabel {
                Layout.fillWidth: true
                text: row.name
                maximumLineCount: 1
                elide: Text.ElideRight
            }
            PlainLabel {
                Layout.fillWidth: true
                text: SettingsSupport.fileDetail(row.formattedSize, row.isProtected)
                font: Palvo.mono(11)
                color: Palvo.ink2
                elide: Text.ElideRight
            }
        }
        PushButton {
            id: copyButton
            text: "Copy link"
            Keys.onBacktabPressed: event => event.accepted = row.focusRow(-1)
            Accessible.name: "Copy link for " + row.name
            onClicked: row.copyRequested(row.file)
            onActiveFocusChanged: row.reveal(activeFocus)
        }
        EllipsisButton {
            id: more
            objectName: "actionsButton"
            Accessible.name: "Actions for " + row.name
            onClicked: row.actionsRequested(row.file, more)
            Keys.onTabPressed: event => event.accepted = row.focusRow(1)
            onActiveFocusChanged: row.reveal(activeFocus)
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Palvo.sheetLine
    }
}
