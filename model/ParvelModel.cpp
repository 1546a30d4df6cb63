#include "model/ParvelModel.h"

#include "model/LocalIndex.h"

#include <QPointer>

#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace {

// Where the dev server listens; used when the build names no server.
const QString defaultServerEndpoint = u"https://localhost:8443"_s;

constexpr qsizetype minimumPasswordLength = 4;
constexpr qsizetype maximumPasswordLength = 256;

QString initialServerURL(const QVariant& setting) {
    // A string is taken as is, even an empty one; anything else means the
    // build has no usable value.
    if (setting.typeId() == QMetaType::QString)
        return setting.toString();
    return defaultServerEndpoint;
}

// User-perceived characters: an emoji or a letter with combining marks is one.
qsizetype graphemeCount(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString lastPathComponent(const QUrl& url) {
    QString path = url.path();
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

ParvelModel::ParvelModel(bool loadConnection, Services services, QObject* parent)
    : QObject(parent), m_services(std::move(services)), m_files(new SharedFileListModel(this)),
      m_devices(new DeviceListModel(this)), m_made(m_services.cacheDir) {
    m_deviceName = m_services.computerName.isEmpty() ? u"My computer"_s : m_services.computerName;
    m_serverURL = initialServerURL(m_services.serverURLSetting);
    if (loadConnection) {
        m_connectionTask = new TaskHandle(this);
        readStoredConnection(m_connectionTask);
    } else {
        m_isLoadingConnection = false;
    }
}

ParvelModel::~ParvelModel() = default;

// --- setters: each one notifies, also when the value is unchanged (publish) ---

void ParvelModel::setConnection(std::optional<Connection> value) {
    publish(m_connection, std::move(value), &ParvelModel::connectionChanged);
}

void ParvelModel::setIsLoadingConnection(bool value) {
    publish(m_isLoadingConnection, value, &ParvelModel::isLoadingConnectionChanged);
}

void ParvelModel::assignFiles(QList<SharedFile> value) {
    m_files->assign(std::move(value)); // resets the list model, also when equal
    Q_EMIT filesChanged();
}

void ParvelModel::setSelected(QList<QUrl> value) {
    m_made.keepOnly(value);
    publish(m_selected, std::move(value), &ParvelModel::selectedChanged,
            &ParvelModel::canUploadChanged);
}

void ParvelModel::setSelectedBytes(std::optional<qint64> value) {
    publish(m_selectedBytes, value, &ParvelModel::selectedBytesChanged);
}

void ParvelModel::setUsePassword(bool value) {
    publish(m_usePassword, value, &ParvelModel::usePasswordChanged, &ParvelModel::canUploadChanged);
}

void ParvelModel::setPassword(QString value) {
    publish(m_password, std::move(value), &ParvelModel::passwordChanged,
            &ParvelModel::canUploadChanged);
}

void ParvelModel::setProgress(double value) {
    publish(m_progress, value, &ParvelModel::progressChanged);
}

void ParvelModel::setIsUploading(bool value) {
    publish(m_isUploading, value, &ParvelModel::isUploadingChanged, &ParvelModel::canUploadChanged);
}

void ParvelModel::setIsRefreshing(bool value) {
    publish(m_isRefreshing, value, &ParvelModel::isRefreshingChanged);
}

void ParvelModel::setMessage(QString value) {
    publish(m_message, std::move(value), &ParvelModel::messageChanged);
}

void ParvelModel::setError(QString value) {
    publish(m_error, std::move(value), &ParvelModel::errorChanged);
}

void ParvelModel::setPairing(std::optional<Pairing> value) {
    publish(m_pairing, std::move(value), &ParvelModel::pairingChanged);
}

void ParvelModel::setDevices(QList<Device> value) {
    m_devices->assign(std::move(value)); // resets the list model, also when equal
    Q_EMIT devicesChanged();
}

void ParvelModel::setCurrentDeviceID(QString value) {
    publish(m_currentDeviceID, std::move(value), &ParvelModel::currentDeviceIDChanged);
}

void ParvelModel::setDeviceName(QString value) {
    publish(m_deviceName, std::move(value), &ParvelModel::deviceNameChanged);
}

void ParvelModel::setServerURL(QString value) {
    publish(m_serverURL, std::move(value), &ParvelModel::serverURLChanged);
}

void ParvelModel::setConnectionCode(QString value) {
    publish(m_connectionCode, std::move(value), &ParvelModel::connectionCodeChanged);
}

void ParvelModel::setConnecting(bool value) {
    publish(m_connecting, value, &ParvelModel::connectingChanged);
}

// --- values for QML ------------------------------------------------------------

namespace {

// QML's null for "none" (an invalid QVariant would read as undefined).
template <class T> QVariant nullable(const std::optional<T>& value) {
    return value ? QVariant::fromValue(*value) : QVariant::fromValue(nullptr);
}

} // namespace

QVariant ParvelModel::connectionValue() const {
    return nullable(m_connection);
}

QVariant ParvelModel::selectedBytesValue() const {
    return nullable(m_selectedBytes);
}

QVariant ParvelModel::pairingValue() const {
    return nullable(m_pairing);
}

// --- task handles ------------------------------------------------------------------

namespace {

// Marks the handle finished once `work` has ended, then lets it go. A handle
// that went with the model is left alone (its destructor resumed waiters).
QCoro::Task<> finishWhenDone(QPointer<TaskHandle> handle, QCoro::Task<> work) {
    co_await std::move(work);
    if (!handle)
        co_return;
    handle->markFinished();
    if (handle)
        handle->deleteLater();
}

} // namespace

TaskHandle* ParvelModel::newTask() {
    return new TaskHandle(this);
}

TaskHandle* ParvelModel::track(TaskHandle* handle, QCoro::Task<> work) {
    // Runs on by itself; callers follow it through the handle.
    auto finishing = finishWhenDone(handle, std::move(work));
    Q_UNUSED(finishing);
    return handle;
}

void ParvelModel::showSettings() {
    if (openSettings)
        openSettings();
}

// --- derived ---------------------------------------------------------------------

std::optional<API> ParvelModel::api() const {
    if (!m_connection)
        return std::nullopt;
    return API(*m_connection);
}

QString ParvelModel::selectedLabel() const {
    if (m_selected.size() == 1)
        return lastPathComponent(m_selected.front());
    return QString::number(m_selected.size()) + u" files selected"_s;
}

QString ParvelModel::selectedSizeLabel() const {
    if (!m_selectedBytes)
        return u"Size unavailable"_s;
    return formatByteCount(*m_selectedBytes);
}

bool ParvelModel::canUpload() const {
    if (m_selected.isEmpty() || m_isUploading)
        return false;
    if (!m_usePassword)
        return true;
    const qsizetype length = graphemeCount(m_password);
    return length >= minimumPasswordLength && length <= maximumPasswordLength;
}

std::optional<Animation> ParvelModel::motion() const {
    const bool allowed = !m_services.desktop || m_services.desktop->motionAllowed();
    if (!allowed)
        return std::nullopt;
    return Motion::move;
}

// --- local index -------------------------------------------------------------------

void ParvelModel::saveIndex() {
    // A failed write is repaired by the next one; nothing to tell the user.
    (void)LocalIndex::write(m_services.applicationSupportDir, files());
}
