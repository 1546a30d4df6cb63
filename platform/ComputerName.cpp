#include "platform/ComputerName.h"

#include <QFile>
#include <QSysInfo>

using namespace Qt::StringLiterals;

namespace ComputerName {

namespace {

// Undoes the shell-style quoting systemd writes: "...", '...' or bare, with
// backslash escapes outside single quotes.
QString unquote(QStringView value) {
    QString out;
    QChar quote;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (quote.isNull() && (c == u'"' || c == u'\'')) {
            quote = c;
        } else if (!quote.isNull() && c == quote) {
            quote = QChar();
        } else if (c == u'\\' && quote != u'\'' && i + 1 < value.size()) {
            out.append(value.at(++i));
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace

QString prettyHostName(const QByteArray& machineInfo) {
    const QString text = QString::fromUtf8(machineInfo);
    const auto lines = QStringView(text).split(u'\n');
    for (const QStringView line : lines) {
        const QStringView trimmed = line.trimmed();
        if (!trimmed.startsWith(u"PRETTY_HOSTNAME="))
            continue;
        return unquote(trimmed.mid(qsizetype(sizeof("PRETTY_HOSTNAME=") - 1))).trimmed();
    }
    return {};
}

QString resolve(const QString& machineInfoPath, const QString& hostName) {
    QFile file(machineInfoPath);
    if (file.open(QIODevice::ReadOnly)) {
        const QString pretty = prettyHostName(file.readAll());
        if (!pretty.isEmpty())
            return pretty;
    }
    if (!hostName.trimmed().isEmpty())
        return hostName;
    return u"My computer"_s;
}

QString current() {
    return resolve(u"/etc/machine-info"_s, QSysInfo::machineHostName());
}

} // namespace ComputerName
