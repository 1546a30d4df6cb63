#include "app/IndexMode.h"

#include "app/OutputStreams.h"
#include "model/LocalIndex.h"
#include "platform/WholeFile.h"

#include <QFile>

int runIndexMode() {
    ignoreBrokenPipes();
    // Never parsed: other programs may have written anything there.
    const auto index = readWholeFile(QFile::encodeName(LocalIndex::userPath()));
    return writeOutput(index ? *index : QByteArrayLiteral("[]\n")) ? 0 : 1;
}
