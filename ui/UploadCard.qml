import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Parvel

// Choosing files, who can open them, and the upload button or the progress
// of the running upload. The whole card takes dropped files.
Item {
    id: card

    required property ParvelModel model
    readonly property bool hasSelection: model.selected.length > 0
    readonly property bool uploading: model.isUploading
    // True while a drag with file URLs hovers over the card.
    property bool targeted: false

    implicitHeight: sheet.implicitHeight

    // The upload button hides while a run goes and Cancel takes its place:
    // the keyboard focus moves along instead of staying on a hidden button.
    function focusLost() {
        const focused = Window.window ? Window.window.activeFocusItem : null
        if (!focused || !focused.visible || !focused.enabled)
            return true
        // Taken back by a scope around the card: no control has it.
        for (let up = card; up; up = up.parent)
            if (up === focused)
                return true
        return false
    }
    // A control that goes away or off with the focus (the upload button when
    // a run ends and the selection is cleared) leaves it nowhere: it comes
    // back to the drop zone, after any other view had the chance to put it
    // somewhere better (a recent file's rebuilt row).
    Timer {
        id: focusRescue
        interval: 100
        onTriggered: if (card.visible && card.Window.window && card.focusLost())
            dropZone.forceActiveFocus(Qt.OtherFocusReason)
    }
    Connections {
        target: card.Window.window
        function onActiveFocusItemChanged() { focusRescue.restart() }
    }
    onUploadingChanged: Qt.callLater(() => {
        if (card.uploading && (card.focusLost() || uploadButton.activeFocus))
            cancelButton.forceActiveFocus(Qt.OtherFocusReason)
        else if (!card.uploading && (card.focusLost() || cancelButton.activeFocus))
            (uploadButton.enabled ? uploadButton : dropZone).forceActiveFocus(Qt.OtherFocusReason)
    })

    // A radio button: a screen reader hears the choice and whether it is on.
    component AccessButton: T.RadioButton {
        id: access

        required property bool protectedChoice
        readonly property bool selected: card.model.usePassword === protectedChoice

        Layout.fillWidth: true
        Layout.preferredWidth: 1
        implicitHeight: implicitContentHeight + topPadding + bottomPadding
        topPadding: 7
        bottomPadding: 7
        font: Palvo.small
        focusPolicy: Qt.StrongFocus
        autoExclusive: false
        checked: selected
        indicator: null
        Accessible.name: text
        // A press toggles `checked` itself: the model decides, the binding stays.
        onClicked: {
            card.model.usePassword = protectedChoice
            checked = Qt.binding(() => access.selected)
        }

        contentItem: Text {
            text: access.text
            font: access.font
            color: access.selected ? Palvo.paper : Palvo.ink2
            textFormat: Text.PlainText
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            radius: 4
            color: access.selected ? Palvo.ink : "transparent"
            border.width: access.visualFocus ? 1 : 0
            border.color: Palvo.accent
        }
    }

    Sheet {
        id: sheet
        anchors.left: parent.left
        anchors.right: parent.right

        RowLayout {
            Layout.fillWidth: true
            Layout.rightMargin: 8
            spacing: 4

            // Drop zone: opens the file chooser.
            T.AbstractButton {
                id: dropZone
                objectName: "dropZone"
                Layout.fillWidth: true
                enabled: !card.uploading
                opacity: enabled ? 1 : 0.5
                leftPadding: 12
                rightPadding: 12
                topPadding: card.hasSelection ? 8 : 12
                bottomPadding: card.hasSelection ? 8 : 12
                implicitHeight: implicitContentHeight + topPadding + bottomPadding
                focusPolicy: Qt.StrongFocus
                Accessible.role: Accessible.Button
                Accessible.name: card.hasSelection ? "Add files" : "Drop files here"
                Accessible.description: card.hasSelection ? "" : "or choose from this computer"
                onClicked: card.model.selectFiles(card.hasSelection)

                contentItem: RowLayout {
                    spacing: 8
                    ColumnLayout {
                        visible: !card.hasSelection
                        spacing: 3
                        PlainLabel {
                            text: "Drop files here"
                            font: Palvo.sans(13, Font.Medium)
                        }
                        PlainLabel {
                            text: "or choose from this computer"
                            font: Palvo.small
                            color: Palvo.ink2
                        }
                    }
                    PlainLabel {
                        visible: card.hasSelection
                        text: "Add files"
                        font: Palvo.small
                        color: Palvo.ink2
                    }
                    Item { Layout.fillWidth: true }
                    SymbolImage {
                        name: "plus"
                        implicitWidth: card.hasSelection ? 12 : 16
                        implicitHeight: implicitWidth
                        color: Palvo.ink
                    }
                }
                background: Rectangle {
                    color: "transparent"
                    border.width: dropZone.visualFocus ? 1 : 0
                    border.color: Palvo.accent
                    radius: 8
                }
            }

            CaptureButtons {
                model: card.model
            }
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Palvo.sheetLine
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.margins: 12
            spacing: 10

            // Selection summary.
            RowLayout {
                Layout.fillWidth: true
                visible: card.hasSelection
                spacing: 10

                FileBadge {
                    name: card.hasSelection ? Rules.fileName(card.model.selected[0]) : ""
                }
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 4
                    PlainLabel {
                        objectName: "selectedLabel"
                        Layout.fillWidth: true
                        text: card.model.selectedLabel
                        font: Palvo.sans(13, Font.Medium)
                        wrapMode: Text.Wrap
                        maximumLineCount: 2
                        elide: Text.ElideRight
                    }
                    PlainLabel {
                        Layout.fillWidth: true
                        text: card.model.selectedSizeLabel
                        font: Palvo.mono(11)
                        color: Palvo.ink2
                    }
                }
                T.AbstractButton {
                    id: clearButton
                    objectName: "clearButton"
                    implicitWidth: 24
                    implicitHeight: 24
                    enabled: !card.uploading
                    opacity: enabled ? 1 : 0.5
                    focusPolicy: Qt.StrongFocus
                    hoverEnabled: true
                    Accessible.role: Accessible.Button
                    Accessible.name: "Clear selected files"
                    ToolTip.visible: hovered
                    ToolTip.text: "Clear selected files"
                    ToolTip.delay: 600
                    onClicked: {
                        card.model.setFiles([], false)
                        dropZone.forceActiveFocus(Qt.OtherFocusReason)
                    }
                    contentItem: Item {
                        SymbolImage {
                            anchors.centerIn: parent
                            width: 12
                            height: 12
                            name: "xmark"
                            color: Palvo.ink2
                        }
                    }
                    background: Rectangle {
                        color: "transparent"
                        radius: 4
                        border.width: clearButton.visualFocus ? 1 : 0
                        border.color: Palvo.accent
                    }
                }
            }

            PlainLabel {
                text: "Who can open it?"
                font: Palvo.small
                color: Palvo.ink2
            }

            // Access choice.
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: accessRow.implicitHeight + 6
                color: "transparent"
                radius: 6
                border.color: Palvo.sheetLine
                border.width: Palvo.hairline
                enabled: !card.uploading
                opacity: enabled ? 1 : 0.5
                // Takes back the spacing of the password block while it folds.
                Layout.bottomMargin: passwordArea.visible ? -parent.spacing * (1 - passwordArea.reveal) : 0

                RowLayout {
                    id: accessRow
                    anchors.fill: parent
                    anchors.margins: 3
                    spacing: 3
                    AccessButton {
                        objectName: "anyoneButton"
                        text: "Anyone with link"
                        protectedChoice: false
                    }
                    AccessButton {
                        objectName: "passwordButton"
                        text: "Password"
                        protectedChoice: true
                    }
                }
            }

            // Password block, fading in and out while the card's height
            // follows it: `reveal` runs from 0 (gone) to 1 (shown) and scales
            // the height the block takes and, through the access choice's
            // margin, the column's spacing that comes with it, so nothing
            // below jumps when the fade begins or ends. (A negative margin
            // on the block itself would be cut off while it is short.)
            Item {
                id: passwordArea
                objectName: "passwordBlock"
                property real reveal: card.model.usePassword ? 1 : 0
                Behavior on reveal {
                    enabled: Palvo.motionAllowed
                    NumberAnimation {
                        duration: Palvo.move
                        easing.type: Easing.BezierSpline
                        easing.bezierCurve: Palvo.curve
                    }
                }
                Layout.fillWidth: true
                Layout.preferredHeight: passwordBlock.implicitHeight * reveal
                visible: reveal > 0
                opacity: reveal
                clip: reveal < 1

                ColumnLayout {
                    id: passwordBlock
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    spacing: 6

                    FieldFrame {
                        objectName: "passwordField"
                        Layout.fillWidth: true
                        padding: 10
                        echoMode: TextInput.Password
                        placeholderText: "Set a password"
                        text: card.model.password
                        enabled: !card.uploading
                        opacity: enabled ? 1 : 0.5
                        onTextEdited: card.model.password = text
                    }
                    PlainLabel {
                        Layout.fillWidth: true
                        text: "At least 4 characters. Share it separately."
                        font: Palvo.small
                        color: Palvo.ink2
                        wrapMode: Text.Wrap
                    }
                }
            }

            // Action row.
            PrimaryButton {
                id: uploadButton
                objectName: "uploadButton"
                Layout.fillWidth: true
                visible: !card.uploading
                text: Rules.uploadTitle(card.model.selected.length)
                enabled: card.model.canUpload
                opacity: card.model.canUpload ? 1.0 : 0.5
                onClicked: card.model.upload()
            }
            RowLayout {
                objectName: "progressRow"
                Layout.fillWidth: true
                visible: card.uploading
                spacing: 8

                ProgressBar {
                    id: bar
                    Layout.fillWidth: true
                    from: 0
                    to: 1
                    value: card.model.progress
                    Accessible.name: "Upload progress"
                    onValueChanged: Announcer.valueChanged(bar)
                    background: Rectangle {
                        implicitHeight: 4
                        radius: 2
                        color: Palvo.sheetLine
                    }
                    contentItem: Item {
                        implicitHeight: 4
                        Rectangle {
                            width: bar.visualPosition * parent.width
                            height: parent.height
                            radius: 2
                            color: Palvo.ink
                        }
                    }
                }
                PlainLabel {
                    objectName: "percentLabel"
                    Accessible.ignored: true
                    text: Rules.percentText(card.model.progress)
                    font: Palvo.mono(11)
                }
                PlainButton {
                    id: cancelButton
                    objectName: "cancelButton"
                    text: "Cancel"
                    textColor: Palvo.ink
                    onClicked: card.model.cancelUpload()
                }
            }
        }
    }

    // Highlight while a drag hovers, over the sheet's own outline.
    Rectangle {
        anchors.fill: sheet
        color: "transparent"
        radius: 8
        border.width: 1
        border.color: card.targeted ? Palvo.accentStrong : "transparent"
    }

    DropArea {
        objectName: "dropArea"
        anchors.fill: sheet
        keys: ["text/uri-list"]
        onEntered: card.targeted = true
        onExited: card.targeted = false
        onDropped: drop => {
            card.targeted = false
            // Refused while an upload runs, although the outline lit up.
            if (card.model.isUploading) {
                drop.accepted = false
                return
            }
            drop.accept(Qt.CopyAction)
            card.model.setFiles(drop.urls, card.model.selected.length > 0)
        }
    }
}
