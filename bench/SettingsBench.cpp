// The settings window with a large library: time from creating the window
// to its first frame, how many rows exist while scrolling from top to
// bottom, and the peak resident memory. Prints figures; asserts nothing.
//
// The model holds FILES synthetic files and a connection to a closed
// loopback port, so the window's refresh on appearing fails at once and
// leaves the list as it is.

#include "model/ParvelModel.h"
#include "tools/SettingsHost.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

QList<SharedFile> library(int count) {
    QList<SharedFile> files;
    files.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString id = u"f%1"_s.arg(i, 6, 10, QChar(u'0'));
        files.append(SharedFile{id, u"Quarterly report %1.pdf"_s.arg(i), 1'000 + i * 7919LL,
                                i % 3 == 0, u"2026-12-01T10:00:00Z"_s,
                                u"https://localhost:1/s/"_s + id});
    }
    return files;
}

qint64 peakRssKiB() {
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Waits for the window's next frame; false after 10 s.
bool nextFrame(QQuickWindow& window) {
    bool drawn = false;
    const auto connection =
        QObject::connect(&window, &QQuickWindow::frameSwapped, [&] { drawn = true; });
    window.update();
    QElapsedTimer waited;
    waited.start();
    while (!drawn && waited.elapsed() < 10'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QObject::disconnect(connection);
    return drawn;
}

struct RowCount {
    int alive = 0; // rows shown now
    int made = 0;  // row objects that exist, pooled ones included
};

RowCount rows(QQuickItem* list) {
    RowCount count;
    const auto children = list->property("contentItem").value<QQuickItem*>()->childItems();
    for (QQuickItem* child : children) {
        if (!QByteArray(child->metaObject()->className()).startsWith("FileRow"))
            continue;
        ++count.made;
        if (child->isVisible())
            ++count.alive;
    }
    return count;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    SettingsHost::useSoftwareRenderer();
    const int count =
        qEnvironmentVariableIntValue("FILES") > 0 ? qEnvironmentVariableIntValue("FILES") : 10'000;

    Services services;
    services.computerName = u"Bench"_s;
    ParvelModel model(false, services);
    model.setIsLoadingConnection(false);
    model.setConnection(Connection{u"https://127.0.0.1:1"_s, u"token"_s});
    model.assignFiles(library(count));

    QElapsedTimer timer;
    timer.start();
    SettingsHost host(&model);
    host.window.show();
    if (!nextFrame(host.window)) {
        std::fprintf(stderr, "bench/settings: no frame within 10 s\n");
        return 1;
    }
    const double firstFrameMs = timer.nsecsElapsed() / 1e6;

    QQuickItem* list = host.find(u"fileList"_s);
    if (!list) {
        std::fprintf(stderr, "bench/settings: the file list is not shown\n");
        return 1;
    }
    const double pageHeight = list->height();
    int mostAlive = 0;
    int mostMade = 0;
    int pages = 0;
    QElapsedTimer scrolling;
    scrolling.start();
    for (;;) {
        const double bottom = list->property("contentHeight").toDouble() - pageHeight;
        const double y = std::min(list->property("contentY").toDouble() + pageHeight, bottom);
        list->setProperty("contentY", y);
        nextFrame(host.window);
        ++pages;
        const RowCount now = rows(list);
        mostAlive = std::max(mostAlive, now.alive);
        mostMade = std::max(mostMade, now.made);
        if (y >= bottom)
            break;
    }
    const double scrollMs = scrolling.nsecsElapsed() / 1e6;

    std::printf("files in the model:              %d\n", count);
    std::printf("window created to first frame:   %.1f ms\n", firstFrameMs);
    std::printf("rows that fit the list:          %.1f\n", pageHeight / 65.0);
    std::printf("rows shown at once, at most:     %d\n", mostAlive);
    std::printf("row objects alive, at most:      %d\n", mostMade);
    std::printf("scrolled top to bottom:          %d pages in %.0f ms (%.2f ms a page)\n", pages,
                scrollMs, scrollMs / pages);
    std::printf("peak resident memory:            %.1f MB\n", peakRssKiB() / 1024.0);
    return 0;
}
