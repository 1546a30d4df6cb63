#pragma once

#include <QByteArray>

// `parvel --render-previews DIR`: draws the popover's main view in its five
// sample states, light and dark, into DIR/parvel-<state>-<appearance>.png.
// Needs no display, no session bus and no server; always draws on the
// offscreen platform with Qt Quick's software renderer, so the pixels are
// the same everywhere. Returns the exit status.
int runPreviewMode(int& argc, char** argv, const QByteArray& outputDir);
