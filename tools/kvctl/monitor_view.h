// What `kvctl monitor` prints: one line per change of the driver's link status, frame rate,
// signal level and per new entry of its touch monitor queue.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "protocol/registry.h"
#include "tools/kvctl/live_session.h"

namespace kv::kvctl {

// Signal lines: only a change of at least this many scaled counts is news (the idle foil's
// noise moves the level by about one), and they come at most once per kSignalGapMs so that a
// moving finger does not flood the terminal.
constexpr float kSignalStep = 2.0f;
constexpr int64_t kSignalGapMs = 250;

class MonitorView final : public FrameListener {
public:
    MonitorView(Registry& records, const Clock& clock, std::ostream& out);

    void OnFrame(int index, DataManipulation& record, const uint8_t* frame, size_t length) override;
    // Prints a signal level held back by the rate limit once its time has come.
    void Tick();

private:
    void LinkChanged();
    void SignalChanged();
    void PrintSignal(float value);
    void TouchArrived();

    Registry& records_;
    const Clock& clock_;
    std::ostream& out_;
    // Inside the driver's publish-all (from Driver/DoStop, its first record, to the end
    // marker) the Monitor/Queue frame repeats an old entry instead of reporting a touch.
    bool inPublishAll_ = false;

    std::optional<bool> connected_;
    std::optional<int32_t> statusCode_;
    std::optional<int32_t> frames_;
    std::optional<float> signalPrinted_;
    int64_t signalPrintedAt_ = 0;
    bool signalPending_ = false;
    std::string touchPrinted_;
};

}  // namespace kv::kvctl
