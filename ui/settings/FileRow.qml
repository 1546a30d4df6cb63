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
            text: "Copy link"
            Accessible.description: row.name
            onClicked: row.copyRequested(row.file)
            onActiveFocusChanged: row.reveal(activeFocus)
        }
        EllipsisButton {
            id: more
            objectName: "actionsButton"
            Accessible.name: "Actions for " + row.name
            onClicked: row.actionsRequested(row.file, more)
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
