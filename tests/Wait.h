#pragma once

// Timed waits for the suites: a test that would hang fails after ten
// seconds instead of running into ctest's limit.

#include <QEventLoop>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <chrono>
#include <concepts>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <variant>

inline constexpr std::chrono::milliseconds waitLimit{10'000};

template <class T>
using Waited = std::optional<std::conditional_t<std::is_void_v<T>, std::monostate, T>>;

namespace wait_detail {

template <class T> struct State {
    Waited<T> value;
    QEventLoop loop;

    // Runs the event loop until the task has ended or the limit has passed.
    void run() {
        QTimer::singleShot(waitLimit, &loop, &QEventLoop::quit);
        if (!value)
            loop.exec();
    }
};

// Owns the task and shares the state: when the wait gave up, a task that
// ends later writes into the state only.
template <class T> QCoro::Task<> drive(QCoro::Task<T> task, std::shared_ptr<State<T>> state) {
    if constexpr (std::is_void_v<T>) {
        co_await std::move(task);
        state->value.emplace();
    } else {
        state->value.emplace(co_await std::move(task));
    }
    state->loop.quit();
}

} // namespace wait_detail

// The result of the task `start(stop)`, or none when it did not finish within
// the limit: then the task is stopped and given another limit to end, so
// that nothing of it outlives the test by much.
template <class Start>
requires std::invocable<Start&, std::stop_token>
[[nodiscard]] auto waitWithin(Start start) {
    using T = typename std::invoke_result_t<Start&, std::stop_token>::value_type;
    std::stop_source stop;
    auto state = std::make_shared<wait_detail::State<T>>();
    auto driver = wait_detail::drive(start(stop.get_token()), state);
    state->run();
    if (state->value)
        return std::move(state->value);
    stop.request_stop();
    state->run();
    return Waited<T>();
}

// The task's result, or none when it did not finish within the limit.
template <class T> [[nodiscard]] Waited<T> waitWithin(QCoro::Task<T> task) {
    return waitWithin([&task](std::stop_token) { return std::move(task); });
}
