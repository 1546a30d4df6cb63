#pragma once

#include "shell/Surfaces.h"

#include <QObject>

class ParvelModel;
class QQmlEngine;
class QQuickView;

// The settings window "Parvel", 720×540 (at least 660×500), centred when
// first shown. Closing only hides it: the next showing is the same window
// with the same view state.
class SettingsWindow final : public QObject, public SettingsSurface {
    Q_OBJECT
public:
    SettingsWindow(QQmlEngine& engine, ParvelModel& model, bool dark, QObject* parent = nullptr);
    ~SettingsWindow() override;

    void show() override;
    void setDark(bool dark);
    QQuickView& window() const { return *m_window; }

private:
    QQuickView* m_window;
    bool m_placed = false;
};

// The file chooser: the desktop's own (through its portal) where there is
// one, Qt's otherwise; non-modal, existing files only, several at once.
class FileChooser final : public QObject, public ChooserSurface {
    Q_OBJECT
public:
    explicit FileChooser(QObject* parent = nullptr);
    ~FileChooser() override;

    void open() override;
    void raise() override;

private:
    class QFileDialog* m_dialog;
};
