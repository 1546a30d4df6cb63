#include "net/Records.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

QString quoted(QLatin1StringView key) {
    return u'"' + QString(key) + u'"';
}

// Parses any JSON value at the top level, including the literal null, which
// QJsonDocument alone refuses.
std::expected<QJsonValue, QString> parseValue(const QByteArray& json) {
    QByteArray wrapped;
    wrapped.reserve(json.size() + 2);
    wrapped.append('[').append(json).append(']');
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(wrapped, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isArray())
        return std::unexpected(
            QStringLiteral("the data is not valid JSON (%1)").arg(parseError.errorString()));
    const QJsonArray array = doc.array();
    if (array.size() != 1)
        return std::unexpected(
            QStringLiteral("the data is not valid JSON (%1)")
                .arg(array.isEmpty() ? u"no value"_s : u"more than one value"_s));
    return array.first();
}

// Reads the fields of one JSON object strictly. The first failure wins; the
// reads after it return defaults and are never looked at.
class Fields {
public:
    explicit Fields(const QJsonObject& object) : m_object(object) {}

    QString string(QLatin1StringView key) {
        const QJsonValue v = present(key);
        if (failed())
            return {};
        if (!v.isString())
            return fail(key, "a string"), QString();
        return v.toString();
    }

    std::optional<QString> optionalString(QLatin1StringView key) {
        const QJsonValue v = m_object.value(key);
        if (failed() || v.isUndefined() || v.isNull())
            return std::nullopt;
        if (!v.isString())
            return fail(key, "a string"), std::nullopt;
        return v.toString();
    }

    qint64 integer(QLatin1StringView key) {
        const QJsonValue v = present(key);
        if (failed())
            return 0;
        // Qt keeps integer literals that fit in 64 bits as integers; anything
        // with a fraction, an exponent or out of range arrives as a double.
        const QVariant variant = v.toVariant();
        if (!v.isDouble() || variant.typeId() != QMetaType::LongLong)
            return fail(key, "an integer"), 0;
        return variant.toLongLong();
    }

    bool boolean(QLatin1StringView key) {
        const QJsonValue v = present(key);
        if (failed())
            return false;
        if (!v.isBool())
            return fail(key, "a boolean"), false;
        return v.toBool();
    }

    QJsonObject object(QLatin1StringView key) {
        const QJsonValue v = present(key);
        if (failed())
            return {};
        if (!v.isObject())
            return fail(key, "an object"), QJsonObject();
        return v.toObject();
    }

    QJsonArray array(QLatin1StringView key) {
        const QJsonValue v = present(key);
        if (failed())
            return {};
        if (!v.isArray())
            return fail(key, "an array"), QJsonArray();
        return v.toArray();
    }

    // A nested failure, told with the key it was found under.
    void failNested(QLatin1StringView key, const QString& inner) {
        if (!failed())
            m_error = quoted(key) + u": "_s + inner;
    }

    bool failed() const { return m_error.has_value(); }
    const QString& error() const { return *m_error; }

private:
    QJsonValue present(QLatin1StringView key) {
        if (failed())
            return {};
        const QJsonValue v = m_object.value(key);
        if (v.isUndefined())
            m_error = quoted(key) + u" is missing"_s;
        else if (v.isNull())
            m_error = quoted(key) + u" must not be null"_s;
        return v;
    }

    void fail(QLatin1StringView key, const char* expected) {
        m_error = quoted(key) + u" must be "_s + QLatin1StringView(expected);
    }

    const QJsonObject& m_object;
    std::optional<QString> m_error;
};

template <class T> struct RecordTraits;

template <class T> std::expected<T, QString> fromObject(const QJsonObject& object) {
    Fields f(object);
    T record = RecordTraits<T>::read(f);
    if (f.failed())
        return std::unexpected(f.error());
    return record;
}

// A nested record under `key`, failing the outer fields when it is not one.
template <class T> T nested(Fields& f, QLatin1StringView key) {
    const QJsonObject object = f.object(key);
    if (f.failed())
        return {};
    auto record = fromObject<T>(object);
    if (!record) {
        f.failNested(key, QLatin1StringView(RecordTraits<T>::name) + u": "_s + record.error());
        return {};
    }
    return *record;
}

// Every element of the array under `key`; one bad element fails the lot.
template <class T> QList<T> nestedList(Fields& f, QLatin1StringView key) {
    const QJsonArray array = f.array(key);
    QList<T> list;
    if (f.failed())
        return list;
    list.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue element = array.at(i);
        const QString where = QStringLiteral("element %1: ").arg(i);
        if (!element.isObject()) {
            f.failNested(key, where + u"expected a JSON object"_s);
            return {};
        }
        auto record = fromObject<T>(element.toObject());
        if (!record) {
            f.failNested(key, where + QLatin1StringView(RecordTraits<T>::name) + u": "_s +
                                  record.error());
            return {};
        }
        list.append(std::move(*record));
    }
    return list;
}

template <> struct RecordTraits<SharedFile> {
    static constexpr const char* name = "SharedFile";
    static SharedFile read(Fields& f) {
        SharedFile r;
        r.id = f.string(QLatin1StringView("id"));
        r.name = f.string(QLatin1StringView("name"));
        r.size = f.integer(QLatin1StringView("size"));
        r.isProtected = f.boolean(QLatin1StringView("isProtected"));
        r.createdAt = f.string(QLatin1StringView("createdAt"));
        r.url = f.string(QLatin1StringView("url"));
        return r;
    }
};

template <> struct RecordTraits<Device> {
    static constexpr const char* name = "Device";
    static Device read(Fields& f) {
        Device r;
        r.id = f.string(QLatin1StringView("id"));
        r.name = f.string(QLatin1StringView("name"));
        r.createdAt = f.optionalString(QLatin1StringView("createdAt"));
        return r;
    }
};

template <> struct RecordTraits<Me> {
    static constexpr const char* name = "Me";
    static Me read(Fields& f) {
        Me r;
        r.device = nested<Device>(f, QLatin1StringView("device"));
        r.owner = f.string(QLatin1StringView("owner"));
        r.version = f.string(QLatin1StringView("version"));
        r.maxFileSize = f.integer(QLatin1StringView("maxFileSize"));
        return r;
    }
};

template <> struct RecordTraits<FileList> {
    static constexpr const char* name = "FileList";
    static FileList read(Fields& f) {
        return {nestedList<SharedFile>(f, QLatin1StringView("files"))};
    }
};

template <> struct RecordTraits<FileResult> {
    static constexpr const char* name = "FileResult";
    static FileResult read(Fields& f) { return {nested<SharedFile>(f, QLatin1StringView("file"))}; }
};

template <> struct RecordTraits<UploadTicket> {
    static constexpr const char* name = "UploadTicket";
    static UploadTicket read(Fields& f) {
        UploadTicket r;
        r.id = f.string(QLatin1StringView("id"));
        r.uploadURL = f.string(QLatin1StringView("uploadURL"));
        return r;
    }
};

template <> struct RecordTraits<Connection> {
    static constexpr const char* name = "Connection";
    static Connection read(Fields& f) {
        Connection r;
        r.serverURL = f.string(QLatin1StringView("serverURL"));
        r.token = f.string(QLatin1StringView("token"));
        return r;
    }
};

template <> struct RecordTraits<ConnectionResult> {
    static constexpr const char* name = "ConnectionResult";
    static ConnectionResult read(Fields& f) {
        ConnectionResult r;
        r.serverURL = f.string(QLatin1StringView("serverURL"));
        r.token = f.string(QLatin1StringView("token"));
        r.device = nested<Device>(f, QLatin1StringView("device"));
        return r;
    }
};

template <> struct RecordTraits<Pairing> {
    static constexpr const char* name = "Pairing";
    static Pairing read(Fields& f) {
        Pairing r;
        r.code = f.string(QLatin1StringView("code"));
        r.expiresAt = f.string(QLatin1StringView("expiresAt"));
        r.serverURL = f.string(QLatin1StringView("serverURL"));
        return r;
    }
};

template <> struct RecordTraits<DeviceList> {
    static constexpr const char* name = "DeviceList";
    static DeviceList read(Fields& f) {
        return {nestedList<Device>(f, QLatin1StringView("devices"))};
    }
};

template <> struct RecordTraits<APIError> {
    static constexpr const char* name = "APIError";
    static APIError read(Fields& f) { return {f.string(QLatin1StringView("error"))}; }
};

DecodingError failure(const char* record, const QString& text) {
    return {QLatin1StringView(record) + u": "_s + text};
}

template <class T> std::expected<T, DecodingError> decodeRecord(const QByteArray& json) {
    constexpr const char* name = RecordTraits<T>::name;
    auto value = parseValue(json);
    if (!value)
        return std::unexpected(failure(name, value.error()));
    if (!value->isObject())
        return std::unexpected(failure(name, QStringLiteral("expected a JSON object")));
    auto record = fromObject<T>(value->toObject());
    if (!record)
        return std::unexpected(failure(name, record.error()));
    return std::move(*record);
}

QJsonObject toObject(const SharedFile& file) {
    return QJsonObject{
        {QStringLiteral("id"), file.id},
        {QStringLiteral("name"), file.name},
        {QStringLiteral("size"), QJsonValue(file.size)},
        {QStringLiteral("isProtected"), file.isProtected},
        {QStringLiteral("createdAt"), file.createdAt},
        {QStringLiteral("url"), file.url},
    };
}

} // namespace

#define PARVEL_DECODER(T)                                                                          \
    template <> std::expected<T, DecodingError> decode<T>(const QByteArray& json) {                \
        return decodeRecord<T>(json);                                                              \
    }

PARVEL_DECODER(SharedFile)
PARVEL_DECODER(Device)
PARVEL_DECODER(Me)
PARVEL_DECODER(FileList)
PARVEL_DECODER(FileResult)
PARVEL_DECODER(UploadTicket)
PARVEL_DECODER(Connection)
PARVEL_DECODER(ConnectionResult)
PARVEL_DECODER(Pairing)
PARVEL_DECODER(DeviceList)
PARVEL_DECODER(APIError)

#undef PARVEL_DECODER

template <> std::expected<std::optional<Pairing>, DecodingError> decode(const QByteArray& json) {
    auto value = parseValue(json);
    if (value && value->isNull())
        return std::optional<Pairing>();
    auto pairing = decodeRecord<Pairing>(json);
    if (!pairing)
        return std::unexpected(pairing.error());
    return std::optional<Pairing>(std::move(*pairing));
}

template <> std::expected<QList<SharedFile>, DecodingError> decode(const QByteArray& json) {
    auto value = parseValue(json);
    if (!value)
        return std::unexpected(failure("SharedFile list", value.error()));
    if (!value->isArray())
        return std::unexpected(failure("SharedFile list", QStringLiteral("expected a JSON array")));
    // Reuse the object-field path so element errors read the same everywhere.
    QJsonObject holder{{QStringLiteral("files"), *value}};
    Fields fields(holder);
    QList<SharedFile> files = nestedList<SharedFile>(fields, QLatin1StringView("files"));
    if (fields.failed())
        return std::unexpected(failure("SharedFile list", fields.error()));
    return files;
}

QByteArray encode(const SharedFile& file) {
    return QJsonDocument(toObject(file)).toJson(QJsonDocument::Compact);
}

QByteArray encode(const QList<SharedFile>& files) {
    QJsonArray array;
    for (const SharedFile& file : files)
        array.append(toObject(file));
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QByteArray encode(const Connection& connection) {
    const QJsonObject object{{QStringLiteral("serverURL"), connection.serverURL},
                             {QStringLiteral("token"), connection.token}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString SharedFile::formattedSize() const {
    return formatByteCount(size);
}

QString formatByteCount(qint64 bytes) {
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const double magnitude = std::abs(static_cast<double>(bytes));
    if (magnitude < 1000)
        return bytes == 1 || bytes == -1 ? QStringLiteral("%1 byte").arg(bytes)
                                         : QStringLiteral("%1 bytes").arg(bytes);

    static constexpr const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    static constexpr int decimals[] = {0, 1, 2, 2, 2, 2};
    int unit = 0;
    double value = static_cast<double>(bytes) / 1000.0;
    for (;;) {
        const double scale = std::pow(10.0, decimals[unit]);
        const double rounded = std::round(std::abs(value) * scale) / scale;
        // 999,999 bytes would read "1000 KB": say "1 MB" instead.
        if (rounded < 1000 || unit == 5)
            break;
        value /= 1000.0;
        ++unit;
    }
    QString text = QString::number(value, 'f', decimals[unit]);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    return text + u' ' + QLatin1StringView(units[unit]);
}
