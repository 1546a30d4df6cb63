#pragma once

#include "net/CredentialStore.h"

#include <QStringList>

// Passes every call to a real store and writes down what it was and how it
// ended, so a test can check which calls a Keychain operation made.
class RecordingStore final : public CredentialStore {
public:
    explicit RecordingStore(CredentialStore& inner) : m_inner(inner) {}

    QStringList calls;

    std::optional<QByteArray> read() override {
        auto bytes = m_inner.read();
        calls << (bytes ? QStringLiteral("read") : QStringLiteral("read: none"));
        return bytes;
    }
    Status update(const QByteArray& data) override {
        const Status status = m_inner.update(data);
        calls << QStringLiteral("update: ") + text(status);
        return status;
    }
    Status add(const QByteArray& data) override {
        const Status status = m_inner.add(data);
        calls << QStringLiteral("add: ") + text(status);
        return status;
    }
    void remove() override {
        m_inner.remove();
        calls << QStringLiteral("remove");
    }

private:
    static QString text(const Status& status) {
        switch (status.kind) {
        case Status::Kind::Done:
            return QStringLiteral("done");
        case Status::Kind::NotFound:
            return QStringLiteral("not found");
        case Status::Kind::Failed:
            return QStringLiteral("failed (%1)").arg(status.code);
        }
        return {};
    }

    CredentialStore& m_inner;
};
