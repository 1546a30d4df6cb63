#pragma once

#include <QString>

// The status icon's tool tip: "Send files", or while an upload runs the
// model's message and the percentage done ("Uploading 1 of 2… 42%").
QString statusText(bool isUploading, const QString& message, double progress);
