// Cuts each sensor frame into the X and the Y electrode arrays and runs both histories.
#include "driver/dsp/dsp_splitter.h"

#include "driver/dsp/touch_detector.h"

namespace kv {

namespace {

// Copies count samples from source into target, back to front when flipped.
void CopySegment(const int32_t* source, int32_t count, bool flip, int32_t* target) {
    for (int32_t k = 0; k < count; ++k) {
        target[k] = flip ? source[count - 1 - k] : source[k];
    }
}

}  // namespace

DspSplitter::DspSplitter(Registry& registry, TouchDetector& detector)
    : theRegistry(registry), itsHistoryX(registry, detector), itsHistoryY(registry, detector) {}

void DspSplitter::ProcessFrame(int32_t len, const uint8_t* samples) {
    if (samples == nullptr || len < kMinSamples || len > kMaxSamples) {
        return;
    }
    // Read once per frame: the messaging side may change the settings at any time.
    const Split& split = theRegistry.splitState;
    theSplit0 = split.Split0;
    theSplit1 = split.Split1;
    theFlip0 = split.Flip0;
    theFlip1 = split.Flip1;
    theFlip2 = split.Flip2;

    const int32_t s0 = theSplit0;
    const int32_t s1 = theSplit1;
    // Each bound is checked before the sums use it, so nothing here can overflow.
    if (s0 <= 0 || s0 >= len || s1 <= 0 || s1 >= len || s0 + s1 > len) {
        return;
    }
    const int32_t countX = len - s1;
    const int32_t countY = s1;
    if (countX < kMinElectrodes || countY < kMinElectrodes) {
        return;
    }

    for (int32_t i = 0; i < len; ++i) {
        theBuffer[static_cast<size_t>(i)] = samples[i];
    }
    // Frame layout: first X segment, the Y segment, then the rest of X.
    CopySegment(theBuffer.data(), s0, theFlip0 != 0, theX.data());
    CopySegment(theBuffer.data() + s0 + s1, len - s0 - s1, theFlip2 != 0, theX.data() + s0);
    CopySegment(theBuffer.data() + s0, s1, theFlip1 != 0, theY.data());
    itsCountX = countX;
    itsCountY = countY;

    itsHistoryX.Run(countX, theX.data(), 0, false);
    itsHistoryY.Run(countY, theY.data(), 1, true);
}

}  // namespace kv
