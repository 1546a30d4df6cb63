#pragma once

#include "devserver/DevServer.h"
#include "net/Records.h"

#include <QObject>
#include <QTemporaryDir>

#include <memory>

class ParvelModel;

// The upload run of the model against the dev server over real TLS on
// loopback, with real files on disk and the offscreen clipboard.
class UploadTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void progressReporter();
    void selection();
    void createRequestCarriesSizeAndPassword();
    void threeFilesInOrder();
    void failureInTheMiddleKeepsFinishedLinks();
    void cancellationDuringTransfer();
    void refusedUploadAddress();
    void unauthorizedDisconnects();

private:
    std::unique_ptr<ParvelModel> makeModel();
    QString writeFile(const QString& name, qint64 size);
    QList<SharedFile> readIndex() const;
    Connection connection() const;

    QTemporaryDir m_serverDir;
    QTemporaryDir m_files;
    QTemporaryDir m_appData;
    std::unique_ptr<devserver::Server> m_server;
};
