#pragma once

#include <QString>

// The name this computer goes by: the "pretty" host name the desktop lets the
// user set (PRETTY_HOSTNAME in /etc/machine-info), else the host name, else
// "My computer".
namespace ComputerName {

QString current();

// The same rule over the given machine-info file and host name; for tests.
QString resolve(const QString& machineInfoPath, const QString& hostName);

// The value of PRETTY_HOSTNAME in the text of a machine-info file (an
// environment-style file: KEY=VALUE lines, values optionally quoted); empty
// when absent.
QString prettyHostName(const QByteArray& machineInfo);

} // namespace ComputerName
