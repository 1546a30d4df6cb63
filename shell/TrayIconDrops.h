#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

// Drops of files onto the tray icon, where the tray lets us: on an XEmbed
// tray the icon is a window of Qt's own (a top-level widget of class
// QSystemTrayIconSys), which can take XDND drops. StatusNotifierItem hosts
// carry no drops. Qt makes that window again whenever a tray host appears,
// so every showing of one is watched for.
class TrayIconDrops final : public QObject {
    Q_OBJECT
public:
    explicit TrayIconDrops(std::function<void(const QList<QUrl>&)> dropped,
                           QObject* parent = nullptr);
    ~TrayIconDrops() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void attach(QObject* candidate);

    std::function<void(const QList<QUrl>&)> m_dropped;
};
