// One peak along one axis: what signal processing hands to the touch output.
#pragma once

#include <cstdint>

namespace kv {

struct PeakCandidate {
    int32_t index = -1;      // electrode of the peak, -1 for none
    float position = 0.5f;   // 0 = electrode 0, 1 = the last electrode
    float amplitude = 0.0f;  // corrected correlation value at the peak

    // Back to "no peak"; done before every search.
    void Clear() { *this = PeakCandidate{}; }
};

}  // namespace kv
