// The in-process rig of the whole signal path.
#include "whole_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace kv::test {

void DspFrameProcessor::ProcessFrame(int32_t muxSize, const uint8_t* samples, size_t available) {
    sink_.frame = ++frames;
    const auto bounded = static_cast<int32_t>(
        std::min<size_t>(static_cast<size_t>(std::max(muxSize, 0)), available));
    dsp_.ProcessFrame(bounded, samples);
    clock_.Advance(framePeriodMs_);
}

WholePath::WholePath(const SensorLayout& layout, int framePeriodMs)
    : engine(*dsp, sink, clock, framePeriodMs), layout_(layout) {
    dsp->Detector().SetTouchEngines(sink.Set());
}

WholePath::~WholePath() {
    hid_.reset();
    while (!links_.empty()) {
        links_.pop_back();
    }
}

void WholePath::Start(SensorLink& link) {
    hid_ = std::make_unique<CHid>(registry, link, engine, settings_, clock, log_);
    hid_->BuildEngine(calibration_);
    // The settings the controller's first-run dialog would have sent for this sensor model.
    SetLayout(registry, layout_);
    hid_->Connect();
}

double WholePath::Seconds() const {
    return static_cast<double>(clock.NowMs() - startMs) / 1000.0;
}

void WholePath::RunUntil(double seconds) {
    while (Seconds() < seconds) {
        hid_->LoopIteration();
        if (!registry.commsActStatus.Connected) {
            sawDisconnected = true;
        }
    }
}

std::vector<FrameTouch> FrameTouches(const std::vector<EngineCall>& calls, double fromSeconds,
                                     double toSeconds) {
    std::map<int64_t, PeakCandidate> xByFrame;
    std::vector<FrameTouch> touches;
    for (const EngineCall& call : calls) {
        const double t = static_cast<double>(call.timeMs) / 1000.0;
        if (call.selection != 0 || t < fromSeconds || t >= toSeconds) {
            continue;
        }
        if (call.axis == 0) {
            xByFrame[call.frame] = call.first;
        } else if (call.frameComplete) {
            const auto x = xByFrame.find(call.frame);
            if (x != xByFrame.end()) {
                touches.push_back({call.frame, call.timeMs, x->second, call.first, call.press});
            }
        }
    }
    return touches;
}

SensorLayout Layout(const std::string& model) {
    const auto layout = LayoutForModel(model);
    EXPECT_TRUE(layout.has_value()) << model;
    return layout.value_or(SensorLayout{});
}

}  // namespace kv::test
