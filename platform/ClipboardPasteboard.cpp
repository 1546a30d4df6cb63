#include "platform/ClipboardPasteboard.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

void ClipboardPasteboard::setText(const QString& text) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    // Clearing first drops every other format a previous owner offered, so
    // the clipboard holds exactly this one string.
    clipboard->clear(QClipboard::Clipboard);
    clipboard->setText(text, QClipboard::Clipboard);
}

PasteboardContents ClipboardPasteboard::contents() const {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return {};
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
    if (!data)
        return {};

    PasteboardContents contents;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            contents.fileURLs.append(url);
    if (!contents.fileURLs.isEmpty())
        return contents;

    // Whatever image format the owner offers, the file is a PNG: decoded and
    // encoded again, so it is a picture and not just bytes someone labelled one.
    if (data->hasImage()) {
        const QImage image = qvariant_cast<QImage>(data->imageData());
        QBuffer buffer(&contents.png);
        if (!image.isNull() && buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"))
            return contents;
        contents.png.clear();
    }
    contents.text = data->text();
    return contents;
}
