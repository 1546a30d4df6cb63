#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// Direct access to the Secret Service of the test's private D-Bus session,
// beside the code under test: what items exist, and a collection of the
// test's own that can be locked without a password prompt.
// Fails where the Secret Service must be there (scripts/test sets
// PARVEL_REQUIRE_SECRET_SERVICE), skips where nobody promised one.
#define PARVEL_REQUIRE_SECRET_SERVICE(available)                                                   \
    do {                                                                                           \
        if (!(available)) {                                                                        \
            if (qEnvironmentVariableIsSet("PARVEL_REQUIRE_SECRET_SERVICE"))                        \
                QFAIL("no Secret Service on the session bus");                                     \
            QSKIP("no Secret Service on the session bus: run through scripts/test");               \
        }                                                                                          \
    } while (false)

namespace SecretServiceKit {

// True when the session bus is configured and org.freedesktop.secrets can
// be reached on it. Never starts a bus.
bool available();

struct StoredItem {
    QMap<QString, QString> attributes;
    QByteArray secret; // empty while locked
    QString label;
};

// Every item whose service attribute is `service`, locked ones included.
QList<StoredItem> items(const QString& service);

// A collection created with a known password (GNOME Keyring's own
// interface, no prompt) and made the default collection for its lifetime
// (GNOME Keyring knows no other alias). The destructor gives the alias back
// to the collection that had it and deletes this one.
class TestCollection {
public:
    TestCollection();
    ~TestCollection();
    TestCollection(const TestCollection&) = delete;
    TestCollection& operator=(const TestCollection&) = delete;

    bool isValid() const { return !m_path.isEmpty(); }
    QString error() const { return m_error; }
    bool lock();
    bool unlock();

private:
    QByteArray m_path;
    QByteArray m_previousDefault;
    QString m_error;
};

} // namespace SecretServiceKit
