#include "app/IndexMode.h"

#include "app/OutputStreams.h"
#include "model/LocalIndex.h"
#include "platform/WholeFile.h"

#include <QFile>

int runIndexMode() {
    // Never parsed: other programs may have written anything there.
    const auto index = readWholeFile(QFile::encodeName(LocalIndex::userPath()));
    writeOutput(index ? *index : QByteArrayLiteral("[]\n"));
    return 0;
}
