#pragma once

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
    // As file URLs, in the order given; relative paths made absolute.
    QList<QUrl> files;
    bool screenshot = false;

    bool isEmpty() const {
        return !settings && !show && !chooseFiles && !screenshot && files.isEmpty();
    }

    // `arguments` without the program path. Unknown "--" options (the
    // command-line modes whose operand was missing) and Qt's own "-" options
    // are skipped; "file:" URLs are taken as given.
    static LaunchRequest parse(const QStringList& arguments, const QString& workingDirectory);
    // The same request as arguments that parse() reads back unchanged; what
    // a second instance sends to the first.
    QStringList toArguments() const;
};
