#pragma once

#include <QByteArrayList>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// What a start of `parvel` asks of the running application: the launch
// flags and the files given on the command line.
struct LaunchRequest {
    bool settings = false;
    bool show = false;
    bool chooseFiles = false;
    // `--share`: the files are uploaded at once, their links copied.
    bool share = false;
    // As file URLs, in the order given; relative paths made absolute. A path
    // is taken byte for byte (a name need not be UTF-8); a "file:" URL only
    // as FileUrl::local() rebuilds it, and not at all when it refuses it.
    QList<QUrl> files;
    bool screenshot = false;

    // `--share` without files asks for nothing.
    bool isEmpty() const {
        return !settings && !show && !chooseFiles && !screenshot && files.isEmpty();
    }

    // `arguments` without the program path. Unknown "--" options (the
    // command-line modes whose operand was missing) and Qt's own "-" options
    // are skipped.
    static LaunchRequest parse(const QByteArrayList& arguments, const QByteArray& workingDirectory);
    // The same for arguments as text (UTF-8): what the instance socket carries.
    static LaunchRequest parse(const QStringList& arguments, const QString& workingDirectory);
    // The same request as arguments that parse() reads back unchanged; what
    // a second instance sends to the first.
    QStringList toArguments() const;
};
