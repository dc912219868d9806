// Cuts each sensor frame into the X and the Y electrode arrays and runs both histories.
#pragma once

#include <array>
#include <cstdint>

#include "driver/dsp/dsp_history.h"
#include "protocol/registry.h"

namespace kv {

class TouchDetector;

class DspSplitter {
public:
    static constexpr int32_t kMaxSamples = 256;
    static constexpr int32_t kMinSamples = 9;
    static constexpr int32_t kMinElectrodes = 6;

    DspSplitter(Registry& registry, TouchDetector& detector);
    DspSplitter(const DspSplitter&) = delete;
    DspSplitter& operator=(const DspSplitter&) = delete;

    // One frame of len samples. A frame that does not fit the split settings is dropped
    // silently: nothing downstream runs and the arrays keep their content.
    void ProcessFrame(int32_t len, const uint8_t* samples);

    // Electrode counts of the last accepted frame.
    int32_t CountX() const { return itsCountX; }
    int32_t CountY() const { return itsCountY; }
    int32_t X(int32_t i) const { return theX[static_cast<size_t>(i)]; }
    int32_t Y(int32_t i) const { return theY[static_cast<size_t>(i)]; }

    DspHistory& HistoryX() { return itsHistoryX; }
    DspHistory& HistoryY() { return itsHistoryY; }
    const DspHistory& HistoryX() const { return itsHistoryX; }
    const DspHistory& HistoryY() const { return itsHistoryY; }

private:
    Registry& theRegistry;
    std::array<int32_t, kMaxSamples> theX{};
    std::array<int32_t, kMaxSamples> theY{};
    std::array<int32_t, kMaxSamples> theBuffer{};
    // The split settings as read at the start of the current frame.
    int32_t theSplit0 = 0;
    int32_t theSplit1 = 0;
    int32_t theFlip0 = 0;
    int32_t theFlip1 = 0;
    int32_t theFlip2 = 0;
    int32_t itsCountX = 0;
    int32_t itsCountY = 0;
    DspHistory itsHistoryX;
    DspHistory itsHistoryY;
};

}  // namespace kv
