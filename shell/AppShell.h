#pragma once

#include "shell/LaunchRequest.h"
#include "shell/Surfaces.h"

#include <QObject>

#include <memory>
#include <optional>

class ParvelModel;

// The tray application's owner: holds the one model for the life of the
// process and decides what the popover, the settings window and the file
// chooser do. It knows them only through ShellSurfaces, so these rules run
// the same with the real windows and with the stand-ins of the tests.
//
// File chooser states: none → prepared (waiting for the popover to close)
// → open → none. While a chooser exists it comes forward instead of the
// popover or the settings window, and further requests are ignored.
class AppShell final : public QObject {
    Q_OBJECT
public:
    AppShell(std::unique_ptr<ParvelModel> model, ShellSurfaces surfaces, QObject* parent = nullptr);
    ~AppShell() override;

    ParvelModel& model() const { return *m_model; }
    PopoverSurface& popover() const { return *m_surfaces.popover; }

    // Installs the model's hooks, opens the settings when there is certainly
    // no connection, then acts on the launch flags and files.
    void launch(const LaunchRequest& request);
    // What a later `parvel …` handed over: the same as at launch, and with
    // nothing asked for, the popover.
    void handleRequest(const LaunchRequest& request);

    void togglePopover();
    // A click on the status icon: a toggle, except right after the popover
    // closed because that very click took its focus.
    void statusIconClicked();
    void showPopover();
    void showSettings();
    void chooseFiles(bool adding);
    // Files opened with the application or dropped from outside: they
    // replace the selection, and the popover shows them.
    void openFiles(const QList<QUrl>& urls);
    // Files arriving from outside the popover (another `parvel FILE…`, the
    // file manager) as a drop onto the icon would: file URLs only, in order;
    // nothing happens and false comes back when none is left.
    bool dropFiles(const QList<QUrl>& urls);
    // Closes the popover, so it is not in the picture, then asks the
    // desktop for a screenshot; the popover shows the outcome.
    void shareScreenshot();
    // `parvel --share FILE…`: the files replace the selection and are
    // uploaded at once for anyone with the link, whose links the run copies.
    // When the run cannot start (another one runs, no connection, folders)
    // the popover shows the model's reason instead. Waits for the stored
    // connection while it is being read.
    void shareFiles(const QList<QUrl>& urls);

    // Every way to quit (Ctrl+Q, the menus): a running upload is cancelled
    // first and given up to two seconds to delete its unfinished file on
    // the server, then the application quits.
    void quit();

    bool hasChooser() const { return m_chooser != nullptr; }
    bool hasSettingsWindow() const { return m_settings != nullptr; }

Q_SIGNALS:
    // Every showing of the popover, after the refresh was started.
    void popoverShown();

private:
    struct FileSelection {
        bool adding = false;
        bool reopenPopover = false;
    };

    void act(const LaunchRequest& request);
    void openPendingFilePicker();
    void chooserFinished(std::optional<QList<QUrl>> urls, FileSelection selection);

    std::unique_ptr<ParvelModel> m_model;
    ShellSurfaces m_surfaces;
    bool m_quitting = false;
    std::unique_ptr<SettingsSurface> m_settings;
    std::unique_ptr<ChooserSurface> m_chooser;
    std::optional<FileSelection> m_pending;
    bool m_screenshotPending = false;
};
