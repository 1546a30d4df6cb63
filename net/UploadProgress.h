#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

// Turns the body-progress reports of one file's PUT into a fraction handed to
// the main thread. One instance per transfer; it is never reused.
//
// Reports may come from any thread. Each one with a known length becomes
// exactly one queued call of `update` on the main thread: nothing is merged
// or throttled, so the caller sees every step the transfer reported.
class UploadProgress {
public:
    explicit UploadProgress(std::function<void(double)> update);

    // `totalSent` of `totalExpected` bytes of the body are on their way. An
    // unknown (negative) or empty length reports nothing.
    void report(qint64 totalSent, qint64 totalExpected) const;

    // The fraction `report` delivers: sent / expected, neither clamped nor
    // rounded; none when the length is unknown or zero.
    static std::optional<double> fraction(qint64 totalSent, qint64 totalExpected);

private:
    // Shared with every queued call, so a call still waiting in the event
    // queue keeps the callback alive after the transfer has let go of us.
    std::shared_ptr<const std::function<void(double)>> m_update;
};
