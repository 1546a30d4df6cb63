#pragma once

#include "model/ParvelModel.h"

#include <QPointer>

#include <optional>
#include <stop_token>
#include <type_traits>
#include <variant>

// What an action receives from the server: the answer, or none when there is
// nothing to act on. std::monostate stands for a request without an answer.
template <class T>
using ServerAnswer = std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>>;

// The shape every action on the server shares: nothing without a connection;
// the request; nothing more when the model went away or the action was
// cancelled meanwhile; a failure goes to handleError. `request` is called
// with the API and `stop` and returns the endpoint's task.
//
// Build the returned task outside a co_await expression and await it by
// name: g++ 12 may release a closure built inside one twice.
template <class T, class Request>
QCoro::Task<ServerAnswer<T>> serverCall(QPointer<ParvelModel> model, std::stop_token stop,
                                        Request request) {
    const std::optional<API> api = model ? model->api() : std::nullopt;
    if (!api)
        co_return std::nullopt;
    Result<T> answer = co_await request(*api, stop);
    if (!model || stop.stop_requested())
        co_return std::nullopt;
    if (!answer) {
        model->handleError(answer.error());
        co_return std::nullopt;
    }
    // A named value: with `co_return std::monostate{};` (g++ 12, QCoro 0.8)
    // the caller was never resumed.
    ServerAnswer<T> result;
    if constexpr (std::is_void_v<T>)
        result.emplace();
    else
        result.emplace(std::move(*answer));
    co_return result;
}
