import QtQuick
import Parvel

// Paper with a fine dot grid anchored at the top-left corner. Offered as a
// background; it takes whatever size it is given.
Rectangle {
    color: Palvo.paper

    DotGrid {
        anchors.fill: parent
        color: Palvo.dot
    }
}
