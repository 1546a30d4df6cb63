#pragma once

#include <optional>

// A timed transition: a duration and the cubic Bézier easing curve through
// (0, 0), (x1, y1), (x2, y2), (1, 1). Views map it onto their own animation
// types.
struct Animation {
    double duration = 0; // seconds
    double x1 = 0;
    double y1 = 0;
    double x2 = 1;
    double y2 = 1;

    bool operator==(const Animation&) const = default;
};

namespace Motion {

// Every movement of the interface shares one curve: a fast start that
// settles gently.
inline constexpr Animation curve(double duration) {
    return {duration, 0.22, 1.0, 0.36, 1.0};
}

// The standard movement of a view changing state.
inline constexpr Animation move = curve(0.24);

} // namespace Motion
