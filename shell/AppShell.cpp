#include "shell/AppShell.h"

#include "model/ParvelModel.h"
#include "shell/DropTarget.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QPointer>

#include <utility>

Q_LOGGING_CATEGORY(lcShell, "parvel.shell", QtWarningMsg)

AppShell::AppShell(std::unique_ptr<ParvelModel> model, ShellSurfaces surfaces, QObject* parent)
    : QObject(parent), m_model(std::move(model)), m_surfaces(std::move(surfaces)) {
    QPointer<AppShell> self(this);
    m_surfaces.popover->closed = [self] {
        if (self)
            self->openPendingFilePicker();
        if (self && std::exchange(self->m_screenshotPending, false))
            (void)self->m_model->takeScreenshot();
    };
    QObject::connect(m_model.get(), &ParvelModel::sharingDone, this, [this] {
        qCDebug(lcShell) << "sharing done; error:" << m_model->error();
        if (!m_surfaces.popover->isShown())
            showPopover();
    });
    // For the logs: files arrive by many ways (drops, other instances, menus).
    QObject::connect(m_model.get(), &ParvelModel::selectedChanged, this,
                     [this] { qCDebug(lcShell) << "selection:" << m_model->selected(); });
}

AppShell::~AppShell() {
    // The model outlives nothing that calls back into this object.
    if (m_model) {
        m_model->openSettings = nullptr;
        m_model->presentFilePicker = nullptr;
        m_model->prepareScreenshot = nullptr;
    }
}

void AppShell::launch(const LaunchRequest& request) {
    QPointer<AppShell> self(this);
    m_model->openSettings = [self] {
        if (self)
            self->showSettings();
    };
    m_model->presentFilePicker = [self](bool adding) {
        if (self)
            self->chooseFiles(adding);
    };
    m_model->prepareScreenshot = [self] {
        if (self)
            self->shareScreenshot();
    };

    if (!m_model->connection() && !m_model->isLoadingConnection())
        showSettings();
    act(request);
}

void AppShell::handleRequest(const LaunchRequest& request) {
    qCDebug(lcShell) << "request from another instance:" << request.toArguments();
    if (request.isEmpty())
        showPopover();
    else
        act(request);
}

void AppShell::act(const LaunchRequest& request) {
    if (request.settings)
        showSettings();
    if (request.show)
        showPopover();
    if (request.chooseFiles)
        chooseFiles(false);
    if (!request.files.isEmpty()) {
        if (request.share)
            shareFiles(request.files);
        else
            dropFiles(request.files);
    }
    if (request.screenshot)
        shareScreenshot();
}

void AppShell::togglePopover() {
    if (m_surfaces.popover->isShown())
        m_surfaces.popover->close();
    else
        showPopover();
}

void AppShell::statusIconClicked() {
    if (!m_surfaces.popover->isShown() && m_surfaces.popover->closedByFocusLossJustNow())
        return;
    togglePopover();
}

void AppShell::showPopover() {
    if (!m_chooser) {
        m_surfaces.popover->show();
        // Not kept: a refresh that overlaps a running one is dropped by the model.
        [[maybe_unused]] auto refresh = m_model->refresh();
        qCDebug(lcShell) << "popover shown; selection:" << m_model->selected();
        Q_EMIT popoverShown();
    } else if (!m_pending) {
        m_chooser->raise();
    }
    // Else a chooser waits for the popover to finish closing; it opens then.
}

namespace {

QCoro::Task<> quitAfterUpload(ParvelModel* model) {
    // The shell owns the model and lives until the event loop has ended.
    co_await model->endUpload(std::chrono::seconds(2));
    QCoreApplication::quit();
}

} // namespace

void AppShell::quit() {
    if (std::exchange(m_quitting, true))
        return;
    auto quitting = quitAfterUpload(m_model.get());
    Q_UNUSED(quitting);
}

void AppShell::showSettings() {
    if (m_chooser) {
        showPopover();
        return;
    }
    m_surfaces.popover->close();
    if (!m_settings)
        m_settings = m_surfaces.makeSettings();
    m_settings->show();
}

void AppShell::chooseFiles(bool adding) {
    if (m_chooser || m_model->isUploading())
        return;
    m_chooser = m_surfaces.makeChooser();
    const bool popoverShown = m_surfaces.popover->isShown();
    m_pending = FileSelection{adding, popoverShown};
    if (popoverShown)
        m_surfaces.popover->close(); // the chooser opens from `closed`
    else
        openPendingFilePicker();
}

void AppShell::openPendingFilePicker() {
    if (!m_pending || !m_chooser)
        return;
    const FileSelection selection = *m_pending;
    m_pending.reset();
    QPointer<AppShell> self(this);
    ChooserSurface* chooser = m_chooser.get();
    chooser->finished = [self, chooser, selection](std::optional<QList<QUrl>> urls) {
        if (self && self->m_chooser.get() == chooser)
            self->chooserFinished(std::move(urls), selection);
    };
    chooser->open();
}

void AppShell::chooserFinished(std::optional<QList<QUrl>> urls, FileSelection selection) {
    // The chooser is still on the stack that called us: it goes away later.
    std::shared_ptr<ChooserSurface> done(std::move(m_chooser));
    QMetaObject::invokeMethod(
        this, [done] {}, Qt::QueuedConnection);
    if (urls)
        m_model->setFiles(*urls, selection.adding);
    if (urls || selection.reopenPopover)
        showPopover();
}

void AppShell::openFiles(const QList<QUrl>& urls) {
    m_model->setFiles(urls, false);
    showPopover();
}

bool AppShell::dropFiles(const QList<QUrl>& urls) {
    const QList<QUrl> files = DropTarget::fileURLs(urls);
    if (files.isEmpty())
        return false;
    openFiles(files);
    return true;
}

void AppShell::shareScreenshot() {
    if (m_surfaces.popover->isShown()) {
        m_screenshotPending = true;
        m_surfaces.popover->close(); // the screenshot is taken from `closed`
    } else {
        (void)m_model->takeScreenshot();
    }
}

void AppShell::shareFiles(const QList<QUrl>& urls) {
    const QList<QUrl> files = DropTarget::fileURLs(urls);
    if (files.isEmpty())
        return;
    if (m_model->isLoadingConnection()) {
        auto* waiting = new QObject(this);
        QObject::connect(m_model.get(), &ParvelModel::isLoadingConnectionChanged, waiting,
                         [this, waiting, files] {
                             if (m_model->isLoadingConnection())
                                 return;
                             waiting->deleteLater();
                             shareFiles(files);
                         });
        return;
    }
    // Refused while a run goes on: setFiles() says why and keeps that run's files.
    const bool busy = m_model->isUploading();
    m_model->setFiles(files, false);
    if (!busy) {
        // Only this run goes without a password: the popover's switch stays as set.
        const bool protect = m_model->usePassword();
        m_model->setUsePassword(false);
        if (m_model->connection() && m_model->canUpload())
            m_model->upload();
        m_model->setUsePassword(protect);
    }
    const bool started = !busy && m_model->isUploading();
    qCDebug(lcShell) << "share:" << files << (started ? "uploading" : "refused");
    if (!started)
        showPopover();
}
