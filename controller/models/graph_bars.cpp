// The graph view's bar rule.
#include "controller/models/graph_bars.h"

#include <algorithm>
#include <cmath>

namespace kv::controller {
namespace {

// Pixels from a real, truncated toward zero as an integer conversion does, without the
// undefined conversion of values out of range.
int TruncatedPixels(double pixels, int low, int high) {
    if (std::isnan(pixels)) {
        return low;
    }
    return static_cast<int>(
        std::clamp(pixels, static_cast<double>(low), static_cast<double>(high)));
}

int BoundedCount(int64_t count) {
    return static_cast<int>(std::clamp<int64_t>(count, 0, Graph::kValues));
}

}  // namespace

int BarLength(float value, int halfWidth) {
    const int longest = std::max(1, halfWidth - 3);
    return TruncatedPixels(value / kBarFullScale * halfWidth, 1, longest);
}

int ThresholdOffset(int32_t pressThreshold, int halfWidth) {
    const int width = std::max(0, halfWidth);
    return TruncatedPixels(pressThreshold / kThresholdFullScale * width, 0, width);
}

int LeftBarCount(const Split& split) {
    return BoundedCount(2 * static_cast<int64_t>(split.Split0));
}

int RightBarCount(const Split& split) {
    return BoundedCount(split.Split1);
}

}  // namespace kv::controller
