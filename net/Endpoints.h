#pragma once

#include "net/API.h"

#include <QUrl>

#include <functional>
#include <optional>

// Every exchange with the server, one typed function each. Identifiers go
// into paths by plain concatenation, never percent-encoded.
namespace Endpoints {

QCoro::Task<Result<ConnectionResult>> connect(const API& api, QString code, QString name,
                                              std::stop_token stop = {});
QCoro::Task<Result<Me>> me(const API& api, std::stop_token stop = {});
QCoro::Task<Result<FileList>> files(const API& api, std::stop_token stop = {});

// "password" is always present: the text, or JSON null for an open upload.
QCoro::Task<Result<UploadTicket>> createUpload(const API& api, QString name, qint64 size,
                                               std::optional<QString> password,
                                               std::stop_token stop = {});

// The file's bytes, streamed from disk to the ticket's address: PUT, no
// Authorization, Content-Type application/octet-stream, Content-Length `size`,
// one-hour idle time-out. Fails with "The upload address is invalid." for an
// address that is not https, with "The upload did not finish. Please try
// again." for a non-2xx answer, and with the transport error otherwise. The
// answer's body is never kept: only its status counts.
// `progress` receives (sent, expected) for every report.
QCoro::Task<Result<void>> uploadBytes(QString uploadURL, QUrl file, qint64 size,
                                      std::function<void(qint64, qint64)> progress,
                                      std::stop_token stop = {});

// Whether an upload address may receive bytes: it parses and its scheme is
// exactly "https".
bool isUsableUploadAddress(const QString& uploadURL);

QCoro::Task<Result<FileResult>> complete(const API& api, QString id, std::stop_token stop = {});
QCoro::Task<Result<void>> deleteFile(const API& api, QString id, std::stop_token stop = {});
QCoro::Task<Result<FileResult>> changeAccess(const API& api, QString id,
                                             std::optional<QString> password,
                                             std::stop_token stop = {});
QCoro::Task<Result<std::optional<Pairing>>> createPairing(const API& api,
                                                          std::stop_token stop = {});
QCoro::Task<Result<DeviceList>> devices(const API& api, std::stop_token stop = {});
QCoro::Task<Result<void>> revokeDevice(const API& api, QString id, std::stop_token stop = {});

// The server's installer page, or none when the address does not parse.
std::optional<QUrl> installerURL(const Connection& connection);

} // namespace Endpoints
