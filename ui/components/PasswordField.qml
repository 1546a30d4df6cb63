import QtQuick
import Parvel

// A password field. A screen reader reads an edit's text, and the text it
// sends with every change, from the item's "text" property: here that
// property holds bullets only, and the password itself goes in and out
// through `password` and `passwordEdited`.
FieldFrame {
    id: field

    property string password
    signal passwordEdited(string password)

    // Shadows the edit's own text for everyone reading it by name.
    property string text: passwordCharacter.repeat(length)

    function secret() { return getText(0, length) }
    // Later, not inside the binding that changed `password`.
    function sync() {
        if (secret() !== password) {
            clear()
            insert(0, password)
        }
    }

    echoMode: TextInput.Password
    passwordCharacter: "•"
    Accessible.passwordEdit: true
    onPasswordChanged: Qt.callLater(sync)
    Component.onCompleted: sync()
    onTextEdited: passwordEdited(secret())
}
