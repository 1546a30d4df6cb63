import QtQuick
import Parvel

// The status line: the model's error, else its message (ink2 while an
// upload runs, ok after), else nothing at all. The text can be selected and
// copied.
TextEdit {
    id: feedback

    required property ParvelModel model
    readonly property int kind: Rules.feedback(model.error, model.message, model.isUploading)

    visible: kind !== Rules.None
    text: kind === Rules.Error ? model.error : (kind === Rules.None ? "" : model.message)
    color: kind === Rules.Error ? Palvo.bad : (kind === Rules.Progress ? Palvo.ink2 : Palvo.ok)
    font: Palvo.small
    textFormat: TextEdit.PlainText
    wrapMode: TextEdit.Wrap
    readOnly: true
    selectByMouse: true
    selectByKeyboard: true
    selectionColor: Palvo.accentSoft
    selectedTextColor: color
    activeFocusOnTab: visible
    // Each new message reaches a screen reader as an alert (an error) or a
    // notification, wherever the focus is.
    Accessible.role: kind === Rules.Error ? Accessible.AlertMessage : Accessible.Notification
    Accessible.name: text
    onTextChanged: if (text !== "") Announcer.announce(feedback)
}
