#include "app/ImportMode.h"

#include "app/OutputStreams.h"
#include "platform/Keychain.h"
#include "platform/WholeFile.h"

namespace {

Result<void> importConnection(const QByteArray& path) {
    // The path is used as the raw bytes it came in, so any file name the
    // shell can pass works.
    const auto bytes = readWholeFile(path);
    if (!bytes)
        return std::unexpected(SystemError{bytes.error()});
    auto connection = decode<Connection>(*bytes);
    if (!connection)
        return std::unexpected(connection.error());
    return Keychain::save(*connection);
}

} // namespace

int runImportMode(const QByteArray& path) {
    ignoreBrokenPipes();
    keepQtMessagesOut();
    const Result<void> imported = importConnection(path);
    if (!imported) {
        writeError(QStringLiteral("Connection import failed: ") + describe(imported.error()));
        return 1;
    }
    return writeOutput(QByteArrayLiteral("Connection saved in Keychain.\n")) ? 0 : 1;
}
