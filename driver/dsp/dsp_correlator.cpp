// Matched filter of one axis: correlation with a finger template, peaks and the live graph.
#include "driver/dsp/dsp_correlator.h"

#include <algorithm>
#include <cmath>

#include "driver/dsp/touch_detector.h"

namespace kv {

DspCorrelator::DspCorrelator(Registry& registry, TouchDetector& detector)
    : theRegistry(registry), itsPeakFinder(detector) {}

// Row i holds the template centred on electrode i, cut at the ends of the axis and brought
// back to zero mean and unit variance, so that a flat signal correlates to zero everywhere.
void DspCorrelator::BuildMatrix(int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        auto& row = itsMatrix[static_cast<size_t>(i)];
        row.fill(0.0f);
        const int32_t from = std::max(0, i - itsTemplateCentre);
        const int32_t to = std::min(count - 1, i - itsTemplateCentre + itsTemplateLast);
        const auto value = [&](int32_t j) {
            return itsTemplate[static_cast<size_t>(itsTemplateCentre + j - i)];
        };
        float sum = 0.0f;
        for (int32_t j = from; j <= to; ++j) {
            sum += value(j);
        }
        const float n = static_cast<float>(to - from + 1);
        const float mean = sum / n;
        float squares = 0.0f;
        for (int32_t j = from; j <= to; ++j) {
            squares += (value(j) - mean) * (value(j) - mean);
        }
        // With at least 8 electrodes every row keeps three unequal values, so s > 0.
        const float s = std::sqrt(squares / n);
        for (int32_t j = from; j <= to; ++j) {
            row[static_cast<size_t>(j)] = (value(j) - mean) / s;
        }
    }
}

void DspCorrelator::Correlate(int32_t count, int32_t axis, bool frameComplete, const float* signal,
                              const float* fine) {
    if (count < kMinCount || signal == nullptr) {
        return;
    }
    count = std::min(count, kMaxCount);
    if (count != itsCount) {
        BuildMatrix(count);
        itsCount = count;
    }
    for (int32_t i = 0; i < count; ++i) {
        const auto& row = itsMatrix[static_cast<size_t>(i)];
        const int32_t from = std::max(0, i - itsTemplateCentre);
        const int32_t to = std::min(count - 1, i + itsTemplateCentre);
        float sum = 0.0f;
        for (int32_t j = from; j <= to; ++j) {
            sum += row[static_cast<size_t>(j)] * signal[j];
        }
        itsOutput[static_cast<size_t>(i)] = sum;
    }
    itsPeakFinder.FindPeaks(count, axis, frameComplete, itsOutput.data(), fine);
    PublishGraph(count, axis, signal);
}

void DspCorrelator::PublishGraph(int32_t count, int32_t axis, const float* signal) {
    if (theGraph == nullptr || theGraphAxis != axis) {
        switch (axis) {
            case 0:
                theGraph = &theRegistry.graphState0;
                break;
            case 1:
                theGraph = &theRegistry.graphState1;
                break;
            case 2:
                theGraph = &theRegistry.graphState2;
                break;
            case 3:
                theGraph = &theRegistry.graphState3;
                break;
            default:
                theGraph = nullptr;  // no graph record for this axis
                return;
        }
        theGraphAxis = axis;
    }
    Graph& graph = *theGraph;
    // Unsigned, so that whatever the record holds the sequence wraps without overflow.
    graph.Param0 = static_cast<int32_t>((static_cast<uint32_t>(graph.Param0) + 1u) & 0x3FFu);
    graph.Param1 = std::min(count, kMaxCount);
    for (int32_t i = 0; i < graph.Param1; ++i) {
        graph.Values[static_cast<size_t>(i)] = signal[i] * kGraphScale;
    }
    graph.Publish();
}

}  // namespace kv
