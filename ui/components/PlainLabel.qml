import QtQuick
import Parvel

// Text as the views show it: always plain, never read as markup (names and
// messages come from users and servers), in the views' default style. A
// screen reader reads it as static text; decoration sets Accessible.ignored.
Text {
    textFormat: Text.PlainText
    color: Palvo.ink
    font: Palvo.working
    Accessible.role: Accessible.StaticText
    Accessible.name: text
}
