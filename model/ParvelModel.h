#pragma once

#include "model/Animation.h"
#include "model/ListModels.h"
#include "model/MadeFiles.h"
#include "model/TaskHandle.h"
#include "net/API.h"
#include "net/Records.h"
#include "platform/Services.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <optional>
#include <stop_token>

// The one application model: every piece of state the views show and every
// user action. Lives on the main thread.
//
// Asynchronous actions (connect, refresh, deleteFile, changePassword,
// createPairing, loadDevices, revoke) start at once and return a TaskHandle.
// The handle is a child of the model: it finishes exactly once, then deletes
// itself on a later turn of the event loop, and goes with the model when the
// model is destroyed first. Use it right away, never keep it:
//   C++:  co_await model.refresh()->wait();
//   QML:  const task = model.refresh()
//         if (task.isFinished) done(); else task.finished.connect(done)
// uploadTask() follows the same rule (null between runs); connectionTask()
// is the one handle kept for the model's whole life.
class ParvelModel : public QObject {
    Q_OBJECT
    // Published properties, as QML sees them. `connection`, `pairing` and
    // `selectedBytes` are null when there is none.
    Q_PROPERTY(QVariant connection READ connectionValue NOTIFY connectionChanged)
    Q_PROPERTY(bool isLoadingConnection READ isLoadingConnection NOTIFY isLoadingConnectionChanged)
    Q_PROPERTY(SharedFileListModel* files READ fileList NOTIFY filesChanged)
    Q_PROPERTY(QList<QUrl> selected READ selected NOTIFY selectedChanged)
    Q_PROPERTY(QVariant selectedBytes READ selectedBytesValue NOTIFY selectedBytesChanged)
    Q_PROPERTY(bool usePassword READ usePassword WRITE setUsePassword NOTIFY usePasswordChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(bool isUploading READ isUploading NOTIFY isUploadingChanged)
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)
    Q_PROPERTY(QVariant pairing READ pairingValue NOTIFY pairingChanged)
    Q_PROPERTY(DeviceListModel* devices READ deviceList NOTIFY devicesChanged)
    Q_PROPERTY(QString currentDeviceID READ currentDeviceID NOTIFY currentDeviceIDChanged)
    Q_PROPERTY(QString deviceName READ deviceName WRITE setDeviceName NOTIFY deviceNameChanged)
    Q_PROPERTY(QString serverURL READ serverURL WRITE setServerURL NOTIFY serverURLChanged)
    Q_PROPERTY(QString connectionCode READ connectionCode WRITE setConnectionCode NOTIFY
                   connectionCodeChanged)
    Q_PROPERTY(bool connecting READ connecting NOTIFY connectingChanged)
    // Derived, recomputed on every read.
    Q_PROPERTY(QString selectedLabel READ selectedLabel NOTIFY selectedChanged)
    Q_PROPERTY(QString selectedSizeLabel READ selectedSizeLabel NOTIFY selectedBytesChanged)
    Q_PROPERTY(bool canUpload READ canUpload NOTIFY canUploadChanged)

public:
    static constexpr qint64 maxUploadBytes = 5'000'000'000;

    explicit ParvelModel(bool loadConnection, Services services, QObject* parent = nullptr);
    ~ParvelModel() override;

    // --- published state -------------------------------------------------
    const std::optional<Connection>& connection() const { return m_connection; }
    void setConnection(std::optional<Connection> value);
    bool isLoadingConnection() const { return m_isLoadingConnection; }
    void setIsLoadingConnection(bool value);
    const QList<SharedFile>& files() const { return m_files->items(); }
    void assignFiles(QList<SharedFile> value); // the list itself, not the selection
    SharedFileListModel* fileList() const { return m_files; }
    const QList<QUrl>& selected() const { return m_selected; }
    void setSelected(QList<QUrl> value);
    std::optional<qint64> selectedBytes() const { return m_selectedBytes; }
    void setSelectedBytes(std::optional<qint64> value);
    bool usePassword() const { return m_usePassword; }
    void setUsePassword(bool value);
    QString password() const { return m_password; }
    void setPassword(QString value);
    double progress() const { return m_progress; }
    void setProgress(double value);
    bool isUploading() const { return m_isUploading; }
    void setIsUploading(bool value);
    bool isRefreshing() const { return m_isRefreshing; }
    void setIsRefreshing(bool value);
    QString message() const { return m_message; }
    void setMessage(QString value);
    QString error() const { return m_error; }
    // Also QML's only way to write the error (the login-item switch).
    Q_INVOKABLE void setError(QString value);
    const std::optional<Pairing>& pairing() const { return m_pairing; }
    void setPairing(std::optional<Pairing> value);
    const QList<Device>& devices() const { return m_devices->items(); }
    void setDevices(QList<Device> value);
    DeviceListModel* deviceList() const { return m_devices; }
    QString currentDeviceID() const { return m_currentDeviceID; }
    void setCurrentDeviceID(QString value);
    QString deviceName() const { return m_deviceName; }
    void setDeviceName(QString value);
    QString serverURL() const { return m_serverURL; }
    void setServerURL(QString value);
    QString connectionCode() const { return m_connectionCode; }
    void setConnectionCode(QString value);
    bool connecting() const { return m_connecting; }
    void setConnecting(bool value);

    // --- not published ----------------------------------------------------
    // The running upload run; null between runs.
    TaskHandle* uploadTask() const { return m_uploadTask; }
    // The stored-connection read started by the constructor; null when the
    // model was made without one. Lives as long as the model.
    TaskHandle* connectionTask() const { return m_connectionTask; }
    // Hooks of the shell.
    std::function<void()> openSettings;
    std::function<void(bool adding)> presentFilePicker;
    // Gets Parvel's own windows out of the picture, then calls takeScreenshot().
    std::function<void()> prepareScreenshot;

    // --- derived -----------------------------------------------------------
    std::optional<API> api() const;
    QString selectedLabel() const;
    QString selectedSizeLabel() const;
    bool canUpload() const;
    // The standard movement when the desktop allows motion, none otherwise.
    std::optional<Animation> motion() const;

    // --- connection lifecycle ----------------------------------------------
    Q_INVOKABLE TaskHandle* connect();
    Q_INVOKABLE TaskHandle* refresh();
    void disconnect();
    void handleError(const Error& error);
    // Opens the settings window through the shell's hook, when installed.
    Q_INVOKABLE void showSettings();

    // --- selection and upload ----------------------------------------------
    Q_INVOKABLE void selectFiles(bool adding);
    Q_INVOKABLE void setFiles(const QList<QUrl>& urls, bool appending);
    // Starts the run and returns; its work begins on the next turn of the
    // event loop, so "Preparing upload…" is what views see first.
    Q_INVOKABLE void upload();
    Q_INVOKABLE void cancelUpload();

    // --- screenshots and the clipboard -------------------------------------
    // Through the shell's prepareScreenshot when installed, else at once.
    Q_INVOKABLE void shareScreenshot();
    // The desktop's screenshot becomes the selection. Null when one is
    // already being taken or an upload runs.
    TaskHandle* takeScreenshot();
    // Files on the clipboard become the selection as a drop would; a
    // picture or text becomes a file of its own.
    Q_INVOKABLE void shareClipboard();

    // --- shared-file actions -----------------------------------------------
    Q_INVOKABLE void copy(const QString& text);
    Q_INVOKABLE void copyLink(const SharedFile& file, bool feedback = true);
    Q_INVOKABLE void openLink(const SharedFile& file);
    Q_INVOKABLE TaskHandle* deleteFile(const SharedFile& file);
    // `password`: a string protects the file with it; null (or nothing)
    // removes the protection.
    Q_INVOKABLE TaskHandle* changePassword(const SharedFile& file, const QVariant& password);

    // --- connected computers -------------------------------------------------
    Q_INVOKABLE TaskHandle* createPairing();
    Q_INVOKABLE TaskHandle* loadDevices();
    Q_INVOKABLE TaskHandle* revoke(const Device& device);

    const Services& services() const { return m_services; }

Q_SIGNALS:
    void connectionChanged();
    void isLoadingConnectionChanged();
    void filesChanged();
    void selectedChanged();
    void selectedBytesChanged();
    void usePasswordChanged();
    void passwordChanged();
    void progressChanged();
    void isUploadingChanged();
    void isRefreshingChanged();
    void messageChanged();
    void errorChanged();
    void pairingChanged();
    void devicesChanged();
    void currentDeviceIDChanged();
    void deviceNameChanged();
    void serverURLChanged();
    void connectionCodeChanged();
    void connectingChanged();
    void canUploadChanged();
    // A screenshot or the clipboard became the selection, or could not (the
    // reason is in `error`); not after a screenshot the user cancelled.
    void sharingDone();

private:
    // Stores `value` and notifies, also when it equals what was there: views
    // re-read on every assignment (feedback shown again, a list rebuilt), so
    // an unchanged value must reach them too.
    template <class T, class... Notify> void publish(T& field, T value, Notify... notify) {
        field = std::move(value);
        (Q_EMIT(this->*notify)(), ...);
    }

    QVariant connectionValue() const;
    QVariant selectedBytesValue() const;
    QVariant pairingValue() const;

    // A handle for an action, and the action's work started under it.
    TaskHandle* newTask();
    TaskHandle* track(TaskHandle* handle, QCoro::Task<> work);

    QCoro::Task<> readStoredConnection(QPointer<TaskHandle> handle);
    QCoro::Task<> runConnect(std::stop_token stop);
    QCoro::Task<> runRefresh(std::stop_token stop);
    QCoro::Task<> runDelete(SharedFile file, std::stop_token stop);
    QCoro::Task<> runChangePassword(SharedFile file, std::optional<QString> password,
                                    std::stop_token stop);
    QCoro::Task<> runCreatePairing(std::stop_token stop);
    QCoro::Task<> runLoadDevices(std::stop_token stop);
    QCoro::Task<> runRevoke(Device device, std::stop_token stop);
    QCoro::Task<> runUpload(QPointer<TaskHandle> handle, QList<QUrl> files, Connection connection,
                            std::optional<QString> password);
    // True, with the reason in `error`, while an upload runs.
    bool refuseWhileUploading();
    QCoro::Task<> runScreenshot(QPointer<TaskHandle> handle);
    void selectClipboard();
    // Writes `files` to the local index; every failure is swallowed.
    void saveIndex();

    Services m_services;

    std::optional<Connection> m_connection;
    bool m_isLoadingConnection = true;
    SharedFileListModel* m_files;
    QList<QUrl> m_selected;
    std::optional<qint64> m_selectedBytes;
    bool m_usePassword = false;
    QString m_password;
    double m_progress = 0;
    bool m_isUploading = false;
    bool m_isRefreshing = false;
    QString m_message;
    QString m_error;
    std::optional<Pairing> m_pairing;
    DeviceListModel* m_devices;
    QString m_currentDeviceID;
    QString m_deviceName;
    QString m_serverURL;
    QString m_connectionCode;
    bool m_connecting = false;

    QPointer<TaskHandle> m_uploadTask;
    QPointer<TaskHandle> m_connectionTask;
    QPointer<TaskHandle> m_screenshotTask;
    // Last: the made files go before anything they could refer to.
    MadeFiles m_made;
};
