// Matched filter of one axis: correlation with a finger template, peaks and the live graph.
#pragma once

#include <array>
#include <cstdint>

#include "driver/dsp/dsp_peak_finder.h"
#include "protocol/registry.h"

namespace kv {

class TouchDetector;

class DspCorrelator {
public:
    static constexpr int32_t kMaxCount = 128;
    static constexpr int32_t kMinCount = 8;
    static constexpr int32_t kTemplateSize = 5;
    static constexpr float kGraphScale = 0.25f;

    DspCorrelator(Registry& registry, TouchDetector& detector);
    DspCorrelator(const DspCorrelator&) = delete;
    DspCorrelator& operator=(const DspCorrelator&) = delete;

    // One axis and frame: correlation, peaks (handed to the detector) and the graph. Does
    // nothing with fewer than 8 electrodes or without a signal. `fine`, where given, is what
    // the precise path places the peaks by.
    void Correlate(int32_t count, int32_t axis, bool frameComplete, const float* signal,
                   const float* fine = nullptr);

    int32_t CachedCount() const { return itsCount; }
    float Output(int32_t i) const { return itsOutput[static_cast<size_t>(i)]; }
    float MatrixEntry(int32_t row, int32_t column) const {
        return itsMatrix[static_cast<size_t>(row)][static_cast<size_t>(column)];
    }
    const DspPeakFinder& PeakFinder() const { return itsPeakFinder; }

private:
    void BuildMatrix(int32_t count);
    void PublishGraph(int32_t count, int32_t axis, const float* signal);

    Registry& theRegistry;
    int32_t itsCount = 0;
    std::array<float, kMaxCount> itsOutput{};
    std::array<std::array<float, kMaxCount>, kMaxCount> itsMatrix{};
    std::array<float, kTemplateSize> itsTemplate{1.0f, 3.0f, 6.0f, 3.0f, 1.0f};
    int32_t itsTemplateCentre = 2;
    int32_t itsTemplateLast = 4;
    DspPeakFinder itsPeakFinder;
    Graph* theGraph = nullptr;  // bound on first use, for theGraphAxis
    int32_t theGraphAxis = -1;
};

}  // namespace kv
