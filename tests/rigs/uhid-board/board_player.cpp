// Turning a scenario or a recording into timed reports and plug cues.
#include "tests/rigs/uhid-board/board_player.h"

#include <cmath>
#include <limits>
#include <utility>

namespace kv::uhidboard {

namespace {

sim::HidRecording SimulatedIdentity() {
    sim::HidRecording identity;
    identity.name = sim::kBoardName;
    identity.bus = sim::kBusUsb;
    identity.vendor = sim::kBoardVendor;
    identity.product = sim::kBoardProduct;
    identity.descriptor = sim::kBoardReportDescriptor;
    return identity;
}

int64_t ToMicros(double seconds) {
    return static_cast<int64_t>(std::llround(seconds * 1e6));
}

}  // namespace

BoardPlayer::BoardPlayer(const sim::Scenario& scenario)
    : fromScenario_(true), recording_(SimulatedIdentity()) {
    sim::Scenario onePass = scenario;
    onePass.loop = false;
    board_.emplace(onePass);
    rate_ = scenario.rate > 0.0 ? scenario.rate : 100.0;
    length_ = scenario.Length();
}

BoardPlayer::BoardPlayer(sim::HidRecording recording, PlugCue cue)
    : recording_(std::move(recording)), cue_(cue) {
    if (cue_.unplugMicros < 0) {
        cueUnplugDone_ = true;
        cueReplugDone_ = true;
    } else if (cue_.replugMicros < cue_.unplugMicros) {
        cueReplugDone_ = true;
        replugNever_ = true;
    }
}

PlayerStep BoardPlayer::Next() {
    return fromScenario_ ? NextOfScenario() : NextOfRecording();
}

PlayerStep BoardPlayer::NextOfScenario() {
    PlayerStep step;
    while (!ended_) {
        if (nextReport_ < frame_.count) {
            // The unnumbered board's reports go out without the ID byte at index 0.
            const sim::Report& report = frame_.reports[static_cast<size_t>(nextReport_++)];
            step.kind = PlayerStep::Kind::Report;
            step.micros = frameMicros_;
            step.data = report.data() + 1;
            step.length = report.size() - 1;
            return step;
        }
        const double t = static_cast<double>(frameIndex_) / rate_;
        if (t > length_) {
            ended_ = true;
            break;
        }
        ++frameIndex_;
        frameMicros_ = ToMicros(t);
        nextReport_ = 0;
        frame_.count = 0;
        const bool attached = board_->AdvanceTo(t);
        if (attached != attached_) {
            attached_ = attached;
            step.kind = attached ? PlayerStep::Kind::Replug : PlayerStep::Kind::Unplug;
            step.micros = frameMicros_;
            if (attached) {
                frame_ = board_->FrameAt(t);
            }
            return step;
        }
        if (attached) {
            frame_ = board_->FrameAt(t);
        }
    }
    step.kind = PlayerStep::Kind::End;
    step.micros = ToMicros(length_);
    return step;
}

PlayerStep BoardPlayer::NextOfRecording() {
    PlayerStep step;
    for (;;) {
        const bool more = nextEvent_ < recording_.events.size();
        const int64_t eventMicros =
            more ? recording_.events[nextEvent_].micros : std::numeric_limits<int64_t>::max();
        // A cue at the same time as a report comes first.
        if (!cueUnplugDone_ && cue_.unplugMicros <= eventMicros) {
            cueUnplugDone_ = true;
            step.kind = PlayerStep::Kind::Unplug;
            step.micros = cue_.unplugMicros;
            return step;
        }
        if (cueUnplugDone_ && !cueReplugDone_ && cue_.replugMicros <= eventMicros) {
            cueReplugDone_ = true;
            step.kind = PlayerStep::Kind::Replug;
            step.micros = cue_.replugMicros;
            return step;
        }
        if (!more) {
            break;
        }
        const sim::HidRecording::Event& event = recording_.events[nextEvent_++];
        const bool unplugged =
            cue_.unplugMicros >= 0 && cueUnplugDone_ && (replugNever_ || !cueReplugDone_);
        if (unplugged) {
            continue;  // an unplugged board sends nothing; its time goes on
        }
        step.kind = PlayerStep::Kind::Report;
        step.micros = event.micros;
        step.data = event.data.data();
        step.length = event.data.size();
        return step;
    }
    step.kind = PlayerStep::Kind::End;
    step.micros = recording_.events.empty() ? 0 : recording_.events.back().micros;
    return step;
}

}  // namespace kv::uhidboard
