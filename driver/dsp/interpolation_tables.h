// Precomputed sine tables for the sub-electrode peak interpolation.
#pragma once

#include <array>

namespace kv {

// Built once for the process: the per-frame interpolation looks its sines up here instead
// of calling the maths library.
class InterpolationTables {
public:
    static constexpr int kT1Size = 257;
    static constexpr int kT2Size = 257;
    static constexpr int kT3Size = 1025;

    static const InterpolationTables& Instance();

    // sin(2 pi i / 256): the position bias across one electrode.
    std::array<float, kT1Size> t1;
    // 1 - sin(pi i / 256): the amplitude lost between two electrodes.
    std::array<float, kT2Size> t2;
    // sin(pi i / 1024): the amplitude lift towards the middle of the axis.
    std::array<float, kT3Size> t3;

private:
    InterpolationTables();
};

}  // namespace kv
