// Pacing and delivery of the simulated board's reports.
#include "driver/sim/simulated_sensor_link.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kv::sim {

namespace {
// The driver waits this long between reopen attempts; an unpaced time line moves on by as
// much on each failed attempt, so unplugged stretches of a scenario pass.
constexpr double kReopenStep = 0.5;
constexpr double kReadTimeout = kReadTimeoutMs / 1000.0;
}  // namespace

SimulatedSensorLink::SimulatedSensorLink(const Scenario& scenario, const Clock& clock, bool paced,
                                         std::function<SensorLayout()> layoutSource)
    : board_(scenario),
      clock_(clock),
      paced_(paced),
      layoutSource_(std::move(layoutSource)),
      startMs_(clock.NowMs()) {}

SimulatedSensorLink::~SimulatedSensorLink() = default;

bool SimulatedSensorLink::AdvanceTo(double t) {
    const bool attached = board_.AdvanceTo(t);
    if (!live_) {
        return attached;
    }
    live_->ApplyDue(board_, t);
    return board_.AdvanceTo(t);
}

double SimulatedSensorLink::Now() const {
    if (paced_) {
        return static_cast<double>(clock_.NowMs() - startMs_) / 1000.0;
    }
    return virtualTime_;
}

bool SimulatedSensorLink::Open() {
    open_ = AdvanceTo(Now());
    if (!open_) {
        if (!paced_) {
            virtualTime_ += kReopenStep;
        }
        return false;
    }
    // Frames restart on the rate grid from now.
    frameBase_ = Now();
    frameIndex_ = 0;
    pending_ = {};
    nextReport_ = 0;
    return true;
}

bool SimulatedSensorLink::Alive() {
    if (open_ && !AdvanceTo(Now())) {
        open_ = false;
    }
    return open_;
}

void SimulatedSensorLink::NextFrame() {
    const double t = frameBase_ + static_cast<double>(frameIndex_) / board_.GetScenario().rate;
    ++frameIndex_;
    if (paced_) {
        const double wait = t - Now();
        if (wait > 0.0) {
            clock_.SleepMs(static_cast<int>(std::ceil(wait * 1000.0)));
        }
    } else {
        virtualTime_ = std::max(virtualTime_, t);
    }
    if (!board_.HasOwnLayout() && layoutSource_) {
        board_.SetLayout(layoutSource_());
    }
    AdvanceTo(t);
    pending_ = board_.FrameAt(t);
    nextReport_ = 0;
}

void SimulatedSensorLink::Stall() {
    const double seconds = board_.TakeStall();
    if (seconds <= 0.0) {
        return;
    }
    if (paced_) {
        clock_.SleepMs(static_cast<int>(std::ceil(seconds * 1000.0)));
    } else {
        virtualTime_ += seconds;
    }
    // The frames the stall held up are not sent in a burst after it: the board starts afresh.
    frameBase_ = Now();
    frameIndex_ = 0;
}

int32_t SimulatedSensorLink::Read(uint8_t* dest, size_t capacity) {
    delivered_ = 0;
    if (!open_) {
        return -1;
    }
    if (nextReport_ >= pending_.count) {
        NextFrame();
    }
    Stall();
    if (nextReport_ >= pending_.count) {
        // Unplugged meanwhile, or a mux size the board cannot send: the read times out.
        if (paced_) {
            clock_.SleepMs(static_cast<int>(kReadTimeout * 1000.0));
        } else {
            virtualTime_ += kReadTimeout;
        }
        return kReportLength - 1;
    }
    const Report& report = pending_.reports[static_cast<size_t>(nextReport_++)];
    delivered_ = std::min(capacity, report.size());
    std::memcpy(dest, report.data(), delivered_);
    return kReportLength - 1;
}

}  // namespace kv::sim
