// A window of its own for the drag tests: a press and a move on it start an
// XDND drag of files, as a file manager's would: those whose paths LIST
// holds at the press, one a line. Prints "drag done N" when the drag ends
// (N: the action taken).
//
//   parvel-dragsource LIST

#include <QApplication>
#include <QDrag>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>
#include <utility>

namespace {

class Source final : public QWidget {
protected:
    void mousePressEvent(QMouseEvent* event) override {
        m_pressed = event->button() == Qt::LeftButton;
    }
    void mouseMoveEvent(QMouseEvent*) override {
        if (!std::exchange(m_pressed, false))
            return;
        QFile list(QApplication::arguments().value(1));
        QList<QUrl> urls;
        if (list.open(QIODevice::ReadOnly))
            for (const QString& path :
                 QString::fromUtf8(list.readAll()).split(u'\n', Qt::SkipEmptyParts))
                urls.append(QUrl::fromLocalFile(path));
        auto* data = new QMimeData;
        data->setUrls(urls);
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        std::printf("drag done %d\n", int(drag->exec(Qt::CopyAction)));
        std::fflush(stdout);
    }

private:
    bool m_pressed = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Source source;
    source.setWindowTitle(QStringLiteral("Drag source"));
    source.setGeometry(20, 300, 200, 200);
    source.show();
    return QApplication::exec();
}
