// The bar rule of the graph view: how long each electrode's bar is drawn, where the threshold
// line stands and which bars pass it. Pure arithmetic, so the view only paints.
#pragma once

#include <cstdint>

#include "protocol/records.h"

namespace kv::controller {

// A value of this many scaled counts fills a half of the view.
inline constexpr double kBarFullScale = 12.5;
// PressThreshold is drawn against a full scale of this many scaled counts.
inline constexpr double kThresholdFullScale = 50.0;

// Bar length in pixels: value / 12.5 x half width, kept between 1 and half width - 3 (and
// never below 1, however narrow the view). Values that are not numbers draw the shortest bar.
int BarLength(float value, int halfWidth);
// Where the threshold line stands, in pixels from the half's left edge.
int ThresholdOffset(int32_t pressThreshold, int halfWidth);
// A bar longer than the threshold line is drawn in the second colour.
inline bool PassesThreshold(int barLength, int thresholdOffset) {
    return barLength > thresholdOffset;
}

// Bars in the left half: the first 2 x Split0 values of Graph State0; in the right half: the
// first Split1 values of Graph State1. Never more than the record holds, never negative.
int LeftBarCount(const Split& split);
int RightBarCount(const Split& split);

}  // namespace kv::controller
