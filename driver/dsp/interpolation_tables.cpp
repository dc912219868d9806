// Precomputed sine tables for the sub-electrode peak interpolation.
#include "driver/dsp/interpolation_tables.h"

#include <cmath>
#include <numbers>

namespace kv {

const InterpolationTables& InterpolationTables::Instance() {
    static const InterpolationTables tables;
    return tables;
}

InterpolationTables::InterpolationTables() {
    constexpr double pi = std::numbers::pi;
    for (int i = 0; i < kT1Size; ++i) {
        t1[static_cast<size_t>(i)] = static_cast<float>(std::sin(2.0 * pi * i / 256.0));
    }
    for (int i = 0; i < kT2Size; ++i) {
        t2[static_cast<size_t>(i)] = static_cast<float>(1.0 - std::sin(pi * i / 256.0));
    }
    for (int i = 0; i < kT3Size; ++i) {
        t3[static_cast<size_t>(i)] = static_cast<float>(std::sin(pi * i / 1024.0));
    }
}

}  // namespace kv
