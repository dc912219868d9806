// What the emulated board does and when: the input reports of a scenario (rendered by the
// simulated board at the scenario's rate) or of a hid-recorder file, with the unplug and
// replug cues between them. Time is passed in by the caller; nothing here sleeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "driver/sim/hid_recording.h"
#include "driver/sim/scenario.h"
#include "driver/sim/simulated_board.h"

namespace kv::uhidboard {

struct PlayerStep {
    enum class Kind { Report, Unplug, Replug, End };

    Kind kind = Kind::End;
    int64_t micros = 0;  // when, from the start of playing
    // For reports: the bytes as the device sends them (no ID byte when unnumbered).
    const uint8_t* data = nullptr;
    size_t length = 0;
};

// Extra unplug and replug cues for recordings, which carry none of their own.
struct PlugCue {
    int64_t unplugMicros = -1;  // -1: none
    int64_t replugMicros = -1;  // -1: stays unplugged once unplugged
};

class BoardPlayer {
public:
    // A scenario on the simulated board. A scenario without a layout of its own plays the
    // driver's default layout (64 channels, split 12/40). Looping scenarios play one pass.
    explicit BoardPlayer(const sim::Scenario& scenario);
    // A recording, played as recorded, with the cues merged in at their times.
    BoardPlayer(sim::HidRecording recording, PlugCue cue);

    // The next step; End once everything has been played, and again on every later call.
    // The data of a report stays valid until the next call.
    PlayerStep Next();

    // The identity the device is created with: the recording's, or the simulated board's.
    const sim::HidRecording& Identity() const { return recording_; }

private:
    PlayerStep NextOfScenario();
    PlayerStep NextOfRecording();

    bool fromScenario_ = false;
    sim::HidRecording recording_;  // the identity always; the events only for recordings
    PlugCue cue_;
    bool cueUnplugDone_ = false;
    bool cueReplugDone_ = false;
    bool replugNever_ = false;
    size_t nextEvent_ = 0;

    // Scenario playing: frame n is rendered at n / rate; its reports go out one by one.
    std::optional<sim::SimulatedBoard> board_;
    double rate_ = 100.0;
    double length_ = 0.0;
    int64_t frameIndex_ = 0;
    sim::FrameReports frame_{};
    int32_t nextReport_ = 0;
    int64_t frameMicros_ = 0;
    bool attached_ = true;
    bool ended_ = false;
};

}  // namespace kv::uhidboard
