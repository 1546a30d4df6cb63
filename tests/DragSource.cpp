// A window of its own for the drag tests: a press and a move on it start an
// XDND drag of the files named on the command line, as a file manager's
// would. Prints "drag done N" when the drag ends (N: the action taken).
//
//   parvel-dragsource FILE…

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class Source final : public QWidget {
public:
    explicit Source(QList<QUrl> urls) : m_urls(std::move(urls)) {
        setWindowTitle(QStringLiteral("Drag source"));
        resize(200, 200);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        m_pressed = event->button() == Qt::LeftButton;
    }
    void mouseMoveEvent(QMouseEvent*) override {
        if (!m_pressed)
            return;
        m_pressed = false;
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls(m_urls);
        drag->setMimeData(data);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        std::printf("drag done %d\n", int(action));
        std::fflush(stdout);
    }

private:
    QList<QUrl> m_urls;
    bool m_pressed = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QList<QUrl> urls;
    for (const QString& path : QApplication::arguments().mid(1))
        urls.append(QUrl::fromLocalFile(path));
    Source source(urls);
    source.move(20, 300);
    source.show();
    return QApplication::exec();
}
