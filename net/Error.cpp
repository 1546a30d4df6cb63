#include "net/Error.h"

QString ParvelError::description() const {
    switch (m_case) {
    case Case::Message:
        return m_text;
    case Case::Unauthorized:
        return QStringLiteral("This computer has been disconnected. Enter a new connection code.");
    }
    return m_text;
}

QString describe(const Error& error) {
    return std::visit(
        [](const auto& e) -> QString {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, ParvelError>)
                return e.description();
            else
                return e.text;
        },
        error);
}

bool isUnauthorized(const Error& error) {
    const auto* p = std::get_if<ParvelError>(&error);
    return p && p->kind() == ParvelError::Case::Unauthorized;
}

bool isCancelled(const Error& error) {
    const auto* t = std::get_if<TransportError>(&error);
    return t && t->reason == TransportError::Reason::Cancelled;
}
