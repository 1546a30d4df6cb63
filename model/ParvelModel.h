#pragma once

#include "model/Animation.h"
#include "model/TaskHandle.h"
#include "net/API.h"
#include "net/Records.h"
#include "platform/Services.h"

#include <QList>
#include <QObject>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

// The one application model: every piece of state the views show and every
// user action. Lives on the main thread. Every published property notifies
// on every assignment, also when the value does not change, so a view that
// reads it is rebuilt.
class ParvelModel : public QObject {
    Q_OBJECT
    // Published properties, as QML sees them.
    Q_PROPERTY(QVariant connection READ connectionValue NOTIFY connectionChanged)
    Q_PROPERTY(bool isLoadingConnection READ isLoadingConnection NOTIFY isLoadingConnectionChanged)
    Q_PROPERTY(QVariantList files READ filesValue NOTIFY filesChanged)
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
    Q_PROPERTY(QVariantList devices READ devicesValue NOTIFY devicesChanged)
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
    const QList<SharedFile>& files() const { return m_files; }
    void assignFiles(QList<SharedFile> value); // the list itself, not the selection
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
    void setError(QString value);
    const std::optional<Pairing>& pairing() const { return m_pairing; }
    void setPairing(std::optional<Pairing> value);
    const QList<Device>& devices() const { return m_devices; }
    void setDevices(QList<Device> value);
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
    // The running upload run; none between runs.
    std::shared_ptr<TaskHandle> uploadTask() const { return m_uploadTask; }
    // The stored-connection read started by the constructor; never reset.
    std::shared_ptr<TaskHandle> connectionTask() const { return m_connectionTask; }
    std::function<void()> openSettings;
    std::function<void(bool adding)> presentFilePicker;

    // --- derived -----------------------------------------------------------
    std::optional<API> api() const;
    QString selectedLabel() const;
    QString selectedSizeLabel() const;
    bool canUpload() const;
    // The standard movement when the desktop allows motion, none otherwise.
    std::optional<Animation> motion() const;

    // --- connection lifecycle ----------------------------------------------
    QCoro::Task<> connect();
    QCoro::Task<> refresh();
    void disconnect();
    void handleError(const Error& error);

    // --- selection and upload ----------------------------------------------
    Q_INVOKABLE void selectFiles(bool adding);
    Q_INVOKABLE void setFiles(const QList<QUrl>& urls, bool appending);
    Q_INVOKABLE void upload();

    // --- shared-file actions -----------------------------------------------
    void copy(const QString& text);
    void copyLink(const SharedFile& file, bool feedback = true);
    void openLink(const SharedFile& file);
    QCoro::Task<> deleteFile(SharedFile file);
    QCoro::Task<> changePassword(SharedFile file, std::optional<QString> password);

    // --- connected computers -------------------------------------------------
    QCoro::Task<> createPairing();
    QCoro::Task<> loadDevices();
    QCoro::Task<> revoke(Device device);

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

private:
    QVariant connectionValue() const;
    QVariantList filesValue() const;
    QVariant selectedBytesValue() const;
    QVariant pairingValue() const;
    QVariantList devicesValue() const;

    QCoro::Task<> readStoredConnection(std::shared_ptr<TaskHandle> handle);
    QCoro::Task<> runUpload(std::shared_ptr<TaskHandle> handle, QList<QUrl> files,
                            Connection connection, std::optional<QString> password);
    // Writes `files` to the local index; every failure is swallowed.
    void saveIndex();

    Services m_services;

    std::optional<Connection> m_connection;
    bool m_isLoadingConnection = true;
    QList<SharedFile> m_files;
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
    QList<Device> m_devices;
    QString m_currentDeviceID;
    QString m_deviceName;
    QString m_serverURL;
    QString m_connectionCode;
    bool m_connecting = false;

    std::shared_ptr<TaskHandle> m_uploadTask;
    std::shared_ptr<TaskHandle> m_connectionTask;
};
