#pragma once

#include "devserver/DevServer.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <memory>

// `parvel --upload` as a user runs it: the built executable in a home of its
// own (no session bus, no display), against the dev server over TLS.
class UploadCommandTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void withoutConnection();
    void uploadsAndPrintsTheRecord();
    void refusesBeforeAnyRequest();
    void unauthorizedForgetsTheConnection();

private:
    struct Outcome {
        int status = -1;
        QByteArray out;
        QByteArray err;
    };
    Outcome run(const QStringList& arguments, const QProcessEnvironment& extra = {});
    void importConnection();

    QTemporaryDir m_serverDir;
    QTemporaryDir m_home;
    QTemporaryDir m_files;
    std::unique_ptr<devserver::Server> m_server;
};
