#pragma once

#include "net/Error.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>

#include <expected>
#include <optional>

// The records that cross the wire or are stored. Plain values; each decoder
// is strict: exact keys, required keys present and of the right JSON type,
// unknown keys ignored, one bad element fails the whole list.

struct SharedFile {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(QString name MEMBER name CONSTANT)
    Q_PROPERTY(qint64 size MEMBER size CONSTANT)
    Q_PROPERTY(bool isProtected MEMBER isProtected CONSTANT)
    Q_PROPERTY(QString createdAt MEMBER createdAt CONSTANT)
    Q_PROPERTY(QString url MEMBER url CONSTANT)
    Q_PROPERTY(QString formattedSize READ formattedSize CONSTANT)
public:
    QString id;
    QString name;
    qint64 size = 0;
    bool isProtected = false;
    QString createdAt;
    QString url;

    QString formattedSize() const;
    bool operator==(const SharedFile&) const = default;
};

struct Device {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(QString name MEMBER name CONSTANT)
    // null when the server sent none
    Q_PROPERTY(QVariant createdAt READ createdAtValue CONSTANT)
public:
    QString id;
    QString name;
    std::optional<QString> createdAt;

    QVariant createdAtValue() const {
        return createdAt ? QVariant(*createdAt) : QVariant::fromValue(nullptr);
    }
};

struct Me {
    Device device;
    QString owner;
    QString version;
    qint64 maxFileSize = 0;
};

struct FileList {
    QList<SharedFile> files;
};

struct FileResult {
    SharedFile file;
};

struct UploadTicket {
    QString id;
    QString uploadURL;
};

struct Connection {
    Q_GADGET
    Q_PROPERTY(QString serverURL MEMBER serverURL CONSTANT)
    Q_PROPERTY(QString token MEMBER token CONSTANT)
public:
    QString serverURL;
    QString token;

    bool operator==(const Connection&) const = default;
};

struct ConnectionResult {
    QString serverURL;
    QString token;
    Device device;
};

struct Pairing {
    Q_GADGET
    Q_PROPERTY(QString code MEMBER code CONSTANT)
    Q_PROPERTY(QString expiresAt MEMBER expiresAt CONSTANT)
    Q_PROPERTY(QString serverURL MEMBER serverURL CONSTANT)
public:
    QString code;
    QString expiresAt;
    QString serverURL;
};

struct DeviceList {
    QList<Device> devices;
};

struct APIError {
    QString error;
};

// Decodes one JSON document whose top level is the record's object.
// Specialised for every record above.
template <class T> std::expected<T, DecodingError> decode(const QByteArray& json);

// The pairing request may be answered with the JSON literal null: no pairing.
template <> std::expected<std::optional<Pairing>, DecodingError> decode(const QByteArray& json);

// The local index: a JSON array of SharedFile.
template <> std::expected<QList<SharedFile>, DecodingError> decode(const QByteArray& json);

// Compact JSON, UTF-8, non-ASCII not escaped, no trailing newline.
QByteArray encode(const SharedFile& file);
QByteArray encode(const QList<SharedFile>& files);
QByteArray encode(const Connection& connection);

// Byte counts as a file manager shows them: decimal units, no fraction for
// bytes and KB, one for MB, two for GB and above, trailing zeros dropped,
// "Zero KB" for nothing.
QString formatByteCount(qint64 bytes);

Q_DECLARE_METATYPE(SharedFile)
Q_DECLARE_METATYPE(Device)
Q_DECLARE_METATYPE(Connection)
Q_DECLARE_METATYPE(Pairing)
