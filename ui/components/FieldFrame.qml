import QtQuick
import QtQuick.Controls.Basic
import Parvel

// A single-line text field on paper with a hairline outline, no platform
// chrome. Nothing happens on Return.
TextField {
    id: field

    padding: 9
    color: Palvo.ink
    placeholderTextColor: Palvo.ink3
    selectionColor: Palvo.accentSoft
    selectedTextColor: Palvo.ink
    font: Palvo.working
    // Named by its placeholder. Set once the field is complete: the name
    // given in a binding is lost when the edit sets up its own accessibility.
    Component.onCompleted: Accessible.name = Qt.binding(() => field.placeholderText)

    background: Rectangle {
        color: Palvo.paper
        radius: 6
        border.width: field.activeFocus ? 2 : Palvo.hairline
        border.color: field.activeFocus ? Palvo.accent : Palvo.sheetLine
    }
}
