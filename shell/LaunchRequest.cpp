#include "shell/LaunchRequest.h"

#include <QDir>
#include <QFileInfo>

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

LaunchRequest LaunchRequest::parse(const QStringList& arguments, const QString& workingDirectory) {
    LaunchRequest request;
    const QDir base(workingDirectory);
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == u"--settings")
            request.settings = true;
        else if (argument == u"--show")
            request.show = true;
        else if (argument == u"--choose-files")
            request.chooseFiles = true;
        else if (argument == u"--screenshot")
            request.screenshot = true;
        else if (argument.startsWith(u"--"))
            continue;
        else if (argument.startsWith(u'-') && argument.size() > 1) {
            if (takesOperand(argument))
                ++i;
        } else if (argument.startsWith(u"file:"))
            request.files.append(QUrl(argument));
        else if (!argument.isEmpty())
            request.files.append(
                QUrl::fromLocalFile(QDir::cleanPath(QFileInfo(base, argument).absoluteFilePath())));
    }
    return request;
}

QStringList LaunchRequest::toArguments() const {
    QStringList arguments;
    if (settings)
        arguments.append(u"--settings"_s);
    if (show)
        arguments.append(u"--show"_s);
    if (chooseFiles)
        arguments.append(u"--choose-files"_s);
    if (screenshot)
        arguments.append(u"--screenshot"_s);
    for (const QUrl& file : files)
        arguments.append(file.toString(QUrl::FullyEncoded));
    return arguments;
}
