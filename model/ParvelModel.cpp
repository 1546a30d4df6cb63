#include "model/ParvelModel.h"

#include "model/LocalIndex.h"

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
    : QObject(parent), m_services(std::move(services)) {
    m_deviceName = m_services.computerName.isEmpty() ? u"My Mac"_s : m_services.computerName;
    m_serverURL = initialServerURL(m_services.serverURLSetting);
    if (loadConnection) {
        m_connectionTask = std::make_shared<TaskHandle>();
        readStoredConnection(m_connectionTask);
    } else {
        m_isLoadingConnection = false;
    }
}

ParvelModel::~ParvelModel() = default;

// --- setters: each one notifies, also when the value is unchanged ------------

void ParvelModel::setConnection(std::optional<Connection> value) {
    m_connection = std::move(value);
    Q_EMIT connectionChanged();
}

void ParvelModel::setIsLoadingConnection(bool value) {
    m_isLoadingConnection = value;
    Q_EMIT isLoadingConnectionChanged();
}

void ParvelModel::assignFiles(QList<SharedFile> value) {
    m_files = std::move(value);
    Q_EMIT filesChanged();
}

void ParvelModel::setSelected(QList<QUrl> value) {
    m_selected = std::move(value);
    Q_EMIT selectedChanged();
    Q_EMIT canUploadChanged();
}

void ParvelModel::setSelectedBytes(std::optional<qint64> value) {
    m_selectedBytes = value;
    Q_EMIT selectedBytesChanged();
}

void ParvelModel::setUsePassword(bool value) {
    m_usePassword = value;
    Q_EMIT usePasswordChanged();
    Q_EMIT canUploadChanged();
}

void ParvelModel::setPassword(QString value) {
    m_password = std::move(value);
    Q_EMIT passwordChanged();
    Q_EMIT canUploadChanged();
}

void ParvelModel::setProgress(double value) {
    m_progress = value;
    Q_EMIT progressChanged();
}

void ParvelModel::setIsUploading(bool value) {
    m_isUploading = value;
    Q_EMIT isUploadingChanged();
    Q_EMIT canUploadChanged();
}

void ParvelModel::setIsRefreshing(bool value) {
    m_isRefreshing = value;
    Q_EMIT isRefreshingChanged();
}

void ParvelModel::setMessage(QString value) {
    m_message = std::move(value);
    Q_EMIT messageChanged();
}

void ParvelModel::setError(QString value) {
    m_error = std::move(value);
    Q_EMIT errorChanged();
}

void ParvelModel::setPairing(std::optional<Pairing> value) {
    m_pairing = std::move(value);
    Q_EMIT pairingChanged();
}

void ParvelModel::setDevices(QList<Device> value) {
    m_devices = std::move(value);
    Q_EMIT devicesChanged();
}

void ParvelModel::setCurrentDeviceID(QString value) {
    m_currentDeviceID = std::move(value);
    Q_EMIT currentDeviceIDChanged();
}

void ParvelModel::setDeviceName(QString value) {
    m_deviceName = std::move(value);
    Q_EMIT deviceNameChanged();
}

void ParvelModel::setServerURL(QString value) {
    m_serverURL = std::move(value);
    Q_EMIT serverURLChanged();
}

void ParvelModel::setConnectionCode(QString value) {
    m_connectionCode = std::move(value);
    Q_EMIT connectionCodeChanged();
}

void ParvelModel::setConnecting(bool value) {
    m_connecting = value;
    Q_EMIT connectingChanged();
}

// --- values for QML ------------------------------------------------------------

QVariant ParvelModel::connectionValue() const {
    return m_connection ? QVariant::fromValue(*m_connection) : QVariant();
}

QVariantList ParvelModel::filesValue() const {
    QVariantList list;
    list.reserve(m_files.size());
    for (const auto& file : m_files)
        list.append(QVariant::fromValue(file));
    return list;
}

QVariant ParvelModel::selectedBytesValue() const {
    return m_selectedBytes ? QVariant::fromValue(*m_selectedBytes) : QVariant();
}

QVariant ParvelModel::pairingValue() const {
    return m_pairing ? QVariant::fromValue(*m_pairing) : QVariant();
}

QVariantList ParvelModel::devicesValue() const {
    QVariantList list;
    list.reserve(m_devices.size());
    for (const auto& device : m_devices)
        list.append(QVariant::fromValue(device));
    return list;
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
    (void)LocalIndex::write(m_services.applicationSupportDir, m_files);
}
