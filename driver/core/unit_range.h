// Conversions at the edges of the output path: settings and positions that may come from the
// network or a settings file must never make a conversion undefined.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace kv {

// Clamps to [0, 1]; NaN becomes 0, so a broken calibration cannot poison pixel arithmetic.
inline float Clamp01(float value) {
    if (!(value > 0.0f)) {
        return 0.0f;
    }
    return value < 1.0f ? value : 1.0f;
}

// Truncates toward zero, saturating at the int32 range; NaN becomes 0.
inline int32_t TruncSaturated(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
        return std::numeric_limits<int32_t>::min();
    }
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

}  // namespace kv
