#include "platform/LoginItem.h"

#include "platform/BuildInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The Exec key takes a command line: a path with reserved characters goes in
// double quotes, in which ", `, $ and \ are escaped; "%" introduces field codes
// and is doubled. Then the value escapes of every string key apply on top.
QString execValue(const QString& executable) {
    static const QString reserved = u" \t\n\"'\\><~|&;$*?#()`"_s;
    QString arg = executable;
    const bool quote =
        std::any_of(arg.cbegin(), arg.cend(), [](QChar c) { return reserved.contains(c); });
    if (quote) {
        QString quoted;
        for (const QChar c : arg) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        arg = u'"' + quoted + u'"';
    }
    arg.replace(u"%"_s, u"%%"_s);
    QString escaped;
    for (const QChar c : arg) {
        switch (c.unicode()) {
        case '\\':
            escaped += u"\\\\"_s;
            break;
        case '\n':
            escaped += u"\\n"_s;
            break;
        case '\t':
            escaped += u"\\t"_s;
            break;
        case '\r':
            escaped += u"\\r"_s;
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

QString systemReason() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

LoginItem::LoginItem(QString folder, QString applicationId, QString executable)
    : m_folder(std::move(folder)), m_applicationId(std::move(applicationId)),
      m_executable(std::move(executable)) {}

LoginItem LoginItem::forThisApplication() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return LoginItem(config + u"/autostart"_s, BuildInfo::applicationId(),
                     QCoreApplication::applicationFilePath());
}

QString LoginItem::path() const {
    return m_folder + u'/' + m_applicationId + u".desktop"_s;
}

bool LoginItem::isEnabled() const {
    return QFileInfo(path()).isFile();
}

QByteArray LoginItem::desktopEntry(const QString& executable) {
    const QString text = u"[Desktop Entry]\n"
                         u"Type=Application\n"
                         u"Name=Parvel\n"
                         u"Comment=Share files from the system tray\n"
                         u"Exec="_s +
                         execValue(executable) +
                         u"\n"
                         u"Terminal=false\n"
                         u"X-GNOME-Autostart-enabled=true\n"_s;
    return text.toUtf8();
}

std::expected<void, QString> LoginItem::setEnabled(bool enabled) const {
    if (!enabled) {
        if (!QFileInfo::exists(path()) && !QFileInfo(path()).isSymLink())
            return {};
        if (::unlink(QFile::encodeName(path()).constData()) != 0)
            return std::unexpected(systemReason());
        return {};
    }
    // A folder that cannot be made shows in the write below, whose reason
    // names the real problem (mkpath's would say "File exists" for a file in
    // the folder's place).
    QDir().mkpath(m_folder);
    QSaveFile file(path());
    if (!file.open(QIODevice::WriteOnly))
        return std::unexpected(file.errorString());
    file.write(desktopEntry(m_executable));
    if (!file.commit())
        return std::unexpected(file.errorString());
    return {};
}
