import QtQuick

// Reads the model and calls its actions the way the views do: values read
// from the model go back into its invokables, and a task is followed
// through its handle.
Item {
    required property var model
    property var log: []

    readonly property bool nullsForNone: model.pairing === null && model.selectedBytes === null
    readonly property string firstFile: model.files.count > 0 ? model.files.at(0).name : ""

    function protect(password) {
        const task = model.changePassword(model.files.at(0), password)
        const done = () => {
            const file = model.files.at(0)
            log = log.concat([file.name + " " + file.isProtected + " " + task.isFinished])
        }
        if (task.isFinished)
            done()
        else
            task.finished.connect(done)
    }
}
