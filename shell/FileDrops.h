#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

// Takes drops of files on a whole window (the settings window, the tray's
// icon window): a drag is accepted only when it carries local files, and
// `dropped` gets them in their order. Installed as the window's event
// filter; a child of the window, so it goes with it.
class FileDrops final : public QObject {
    Q_OBJECT
public:
    FileDrops(QObject& window, std::function<void(const QList<QUrl>&)> dropped);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(const QList<QUrl>&)> m_dropped;
};
