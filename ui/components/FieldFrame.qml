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
    // One dot for every password field, smaller than the default circle.
    passwordCharacter: "•"
    // Named by its placeholder (AccessibleControl reads it: Qt Quick keeps a
    // password field's name empty).
    Accessible.name: placeholderText

    background: Rectangle {
        color: Palvo.paper
        radius: 6
        border.width: field.activeFocus ? 2 : Palvo.hairline
        border.color: field.activeFocus ? Palvo.accent : Palvo.sheetLine
    }
}
