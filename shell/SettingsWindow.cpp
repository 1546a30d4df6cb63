#include "shell/SettingsWindow.h"

#include "shell/QmlHost.h"

#include <QCursor>
#include <QFileDialog>
#include <QGuiApplication>
#include <QQuickView>
#include <QScreen>

using namespace Qt::StringLiterals;

SettingsWindow::SettingsWindow(QQmlEngine& engine, ParvelModel& model, bool dark, QObject* parent)
    : QObject(parent), m_window(new QQuickView(&engine, nullptr)) {
    m_window->setTitle(u"Parvel"_s);
    m_window->setMinimumSize(QSize(660, 500));
    m_window->resize(QSize(720, 540));
    hostView(*m_window, u"SettingsView"_s, model, dark);
}

SettingsWindow::~SettingsWindow() {
    delete m_window;
}

void SettingsWindow::show() {
    if (!m_placed) {
        m_placed = true;
        QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame(QPoint(), m_window->size());
            frame.moveCenter(screen->availableGeometry().center());
            m_window->setScreen(screen);
            m_window->setPosition(frame.topLeft());
        }
    }
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void SettingsWindow::setDark(bool dark) {
    setViewDark(*m_window, dark);
}

FileChooser::FileChooser(QObject* parent) : QObject(parent), m_dialog(new QFileDialog()) {
    m_dialog->setWindowTitle(u"Choose files to share"_s);
    m_dialog->setAcceptMode(QFileDialog::AcceptOpen);
    m_dialog->setFileMode(QFileDialog::ExistingFiles);
    m_dialog->setLabelText(QFileDialog::Accept, u"Choose files"_s);
    m_dialog->setDirectory(QDir::home());
    m_dialog->setModal(false);
    QObject::connect(m_dialog, &QDialog::finished, this, [this](int result) {
        if (!finished)
            return;
        if (result == QDialog::Accepted)
            finished(m_dialog->selectedUrls());
        else
            finished(std::nullopt);
    });
}

FileChooser::~FileChooser() {
    delete m_dialog;
}

void FileChooser::open() {
    m_dialog->show();
    raise();
}

void FileChooser::raise() {
    m_dialog->raise();
    m_dialog->activateWindow();
}
