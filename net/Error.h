#pragma once

#include <QString>

#include <expected>
#include <variant>

// The program's own failures. The order of the cases is part of the contract.
class ParvelError {
public:
    enum class Case { Message, Unauthorized };

    static ParvelError message(QString text) { return ParvelError(Case::Message, std::move(text)); }
    static ParvelError unauthorized() { return ParvelError(Case::Unauthorized, {}); }

    Case kind() const { return m_case; }
    // The text shown to the user, verbatim.
    QString description() const;

    bool operator==(const ParvelError&) const = default;

private:
    ParvelError(Case c, QString text) : m_case(c), m_text(std::move(text)) {}
    Case m_case;
    QString m_text;
};

// A failure below HTTP: connection refused, TLS, time-out, an answer too long
// to keep, or the caller gave up.
struct TransportError {
    enum class Reason { Failed, TimedOut, Cancelled, TooLarge };
    Reason reason = Reason::Failed;
    QString text; // libcurl's description with the detail of its error buffer
};

// A JSON document that is not the record that was asked for.
struct DecodingError {
    QString text; // for example: SharedFile: "size" must be an integer
};

// A failure of the operating system: files, the credential store's plumbing.
struct SystemError {
    QString text;
};

using Error = std::variant<ParvelError, TransportError, DecodingError, SystemError>;

template <class T> using Result = std::expected<T, Error>;

// The user-facing description of any error: our own texts verbatim, the
// library's or the system's description otherwise.
QString describe(const Error& error);

bool isUnauthorized(const Error& error);
bool isCancelled(const Error& error);
