#include "app/ImportMode.h"

#include "app/OutputStreams.h"
#include "platform/ConnectionStore.h"
#include "platform/WholeFile.h"

namespace {

Result<void> importConnection(const QByteArray& path, ConnectionStore& store) {
    // The path is used as the raw bytes it came in, so any file name the
    // shell can pass works.
    const auto bytes = readWholeFile(path);
    if (!bytes)
        return std::unexpected(SystemError{bytes.error()});
    auto connection = decode<Connection>(*bytes);
    if (!connection)
        return std::unexpected(connection.error());
    // Unlocks the keyring first, with its prompt where the desktop has one.
    if (auto ready = store.prepareSave(); !ready)
        return ready;
    return store.save(*connection);
}

} // namespace

int runImportMode(const QByteArray& path) {
    ignoreBrokenPipes();
    keepQtMessagesOut();
    const std::shared_ptr<ConnectionStore> store = systemConnectionStore();
    const Result<void> imported = importConnection(path, *store);
    if (!imported) {
        writeError(QStringLiteral("Connection import failed: ") + describe(imported.error()));
        return 1;
    }
    return writeOutput(store->savedText().toUtf8() + '\n') ? 0 : 1;
}
