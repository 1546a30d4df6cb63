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

namespace {

class Source final : public QWidget {
public:
    explicit Source(QString list) : m_list(std::move(list)) {
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
        QList<QUrl> urls;
        QFile list(m_list);
        if (list.open(QIODevice::ReadOnly))
            for (const QByteArray& line : list.readAll().split('\n'))
                if (!line.isEmpty())
                    urls.append(QUrl::fromLocalFile(QString::fromUtf8(line)));
        auto* data = new QMimeData;
        data->setUrls(urls);
        drag->setMimeData(data);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        std::printf("drag done %d\n", int(action));
        std::fflush(stdout);
    }

private:
    QString m_list;
    bool m_pressed = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Source source(QApplication::arguments().value(1));
    source.move(20, 300);
    source.show();
    return QApplication::exec();
}
