#include "shell/LaunchRequest.h"

#include "net/FileUrl.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace {

// Qt's own options that take an operand; QApplication removes them later.
bool takesOperand(const QString& option) {
    static const QStringList options = {u"-platform"_s,
                                        u"-platformpluginpath"_s,
                                        u"-platformtheme"_s,
                                        u"-plugin"_s,
                                        u"-qwindowgeometry"_s,
                                        u"-qwindowicon"_s,
                                        u"-qwindowtitle"_s,
                                        u"-display"_s,
                                        u"-geometry"_s,
                                        u"-style"_s,
                                        u"-stylesheet"_s,
                                        u"-session"_s,
                                        u"-name"_s,
                                        u"-title"_s,
                                        u"-qmljsdebugger"_s};
    return options.contains(option);
}

} // namespace

LaunchRequest LaunchRequest::parse(const QByteArrayList& arguments,
                                   const QByteArray& workingDirectory) {
    LaunchRequest request;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& argument = arguments.at(i);
        if (argument == "--settings")
            request.settings = true;
        else if (argument == "--show")
            request.show = true;
        else if (argument == "--choose-files")
            request.chooseFiles = true;
        else if (argument == "--share")
            request.share = true;
        else if (argument == "--screenshot")
            request.screenshot = true;
        else if (argument.startsWith("--"))
            continue;
        else if (argument.startsWith('-') && argument.size() > 1) {
            if (takesOperand(QString::fromLatin1(argument)))
                ++i;
        } else if (argument.startsWith("file:")) {
            // Refused URLs (another host, a NUL byte) are left out here
            // already, not just when the model checks the files.
            if (const QUrl file = FileUrl::local(QUrl(QString::fromUtf8(argument))); file.isValid())
                request.files.append(file);
        } else if (!argument.isEmpty())
            request.files.append(
                FileUrl::fromPath(FileUrl::absolutePath(argument, workingDirectory)));
    }
    return request;
}

LaunchRequest LaunchRequest::parse(const QStringList& arguments, const QString& workingDirectory) {
    QByteArrayList bytes;
    bytes.reserve(arguments.size());
    for (const QString& argument : arguments)
        bytes.append(argument.toUtf8());
    return parse(bytes, QFile::encodeName(workingDirectory));
}

QStringList LaunchRequest::toArguments() const {
    QStringList arguments;
    if (settings)
        arguments.append(u"--settings"_s);
    if (show)
        arguments.append(u"--show"_s);
    if (chooseFiles)
        arguments.append(u"--choose-files"_s);
    if (share)
        arguments.append(u"--share"_s);
    if (screenshot)
        arguments.append(u"--screenshot"_s);
    for (const QUrl& file : files)
        arguments.append(file.toString(QUrl::FullyEncoded));
    return arguments;
}
