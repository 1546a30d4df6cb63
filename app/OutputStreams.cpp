#include "app/OutputStreams.h"

#include <QtGlobal>

#include <unistd.h>

bool writeOutput(const QByteArray& bytes) {
    return writeAll(STDOUT_FILENO, bytes.constData(), std::size_t(bytes.size()));
}

bool writeError(const QString& line) {
    return writeErrorBytes(line.toUtf8() + '\n');
}

bool writeErrorBytes(const QByteArray& bytes) {
    return writeAll(STDERR_FILENO, bytes.constData(), std::size_t(bytes.size()));
}

void keepQtMessagesOut() {
    if (qEnvironmentVariableIsSet("QT_LOGGING_RULES") || qEnvironmentVariableIsSet("PARVEL_DEBUG"))
        return;
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtFatalMsg)
            writeError(message);
    });
}
