import QtQuick

// Shown when the Parvel views are not part of this build: the selection as
// plain text, enough to see that the shell works.
Rectangle {
    id: root
    required property var model
    property bool dark: false
    property string title: ""
    color: root.dark ? "#1c1c1e" : "#f5f5f7"

    Column {
        anchors.fill: parent
        anchors.margins: 16
        spacing: 8
        Text {
            text: "Parvel"
            font.pixelSize: 18
            color: root.dark ? "#ffffff" : "#111111"
        }
        Repeater {
            model: root.model.selected
            Text {
                required property url modelData
                text: modelData.toString()
                textFormat: Text.PlainText
                elide: Text.ElideMiddle
                width: parent.width
                color: root.dark ? "#e5e5e7" : "#333333"
            }
        }
    }
}
