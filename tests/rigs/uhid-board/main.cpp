// uhid-board: the sensor board emulated through /dev/uhid, playing a scenario or a
// hid-recorder file at its pace, for testing the driver against the kernel's HID layer.
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "common/clock.h"
#include "driver/sim/hid_recording.h"
#include "driver/sim/scenario.h"
#include "tests/rigs/uhid-board/board_options.h"
#include "tests/rigs/uhid-board/board_player.h"
#include "tests/rigs/uhid-board/plug_requests.h"
#include "tests/rigs/uhid-board/uhid_device.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile kv::uhidboard::PlugCounts plugRequests;
kv::uhidboard::PlugCounts plugServed;

void OnStopSignal(int) {
    stopRequested = 1;
}
void OnUnplugSignal(int) {
    plugRequests.unplugs = plugRequests.unplugs + 1;
}
void OnReplugSignal(int) {
    plugRequests.replugs = plugRequests.replugs + 1;
}

kv::uhid::DeviceIdentity IdentityOf(const kv::sim::HidRecording& recording) {
    return {.name = recording.name,
            .bus = recording.bus,
            .vendor = recording.vendor,
            .product = recording.product,
            .descriptor = recording.descriptor};
}

std::optional<kv::uhidboard::BoardPlayer> MakePlayer(const kv::uhidboard::BoardOptions& options) {
    if (!options.scenario.empty()) {
        kv::sim::ScenarioError error;
        auto scenario = kv::sim::LoadScenario(options.scenario, error);
        if (!scenario) {
            std::fprintf(stderr, "uhid-board: %s\n", error.Text().c_str());
            return std::nullopt;
        }
        return kv::uhidboard::BoardPlayer(*scenario);
    }
    std::string error;
    auto recording = kv::sim::LoadHidRecording(options.recording, error);
    if (!recording) {
        std::fprintf(stderr, "uhid-board: %s: %s\n", options.recording.c_str(), error.c_str());
        return std::nullopt;
    }
    kv::uhidboard::PlugCue cue;
    cue.unplugMicros = options.unplugAt < 0.0 ? -1 : static_cast<int64_t>(options.unplugAt * 1e6);
    cue.replugMicros = options.replugAt < 0.0 ? -1 : static_cast<int64_t>(options.replugAt * 1e6);
    return kv::uhidboard::BoardPlayer(std::move(*recording), cue);
}

// Serves the kernel's requests until the clock reaches deadlineMs (or a stop signal), and
// unplugs or replugs when a signal asks for it.
bool ServeUntil(kv::uhid::UhidDevice& device, const kv::uhid::DeviceIdentity& identity,
                const kv::Clock& clock, int64_t deadlineMs, bool verbose) {
    for (;;) {
        for (auto action = kv::uhidboard::NextPlugAction(plugRequests, plugServed);
             action != kv::uhidboard::PlugAction::None;
             action = kv::uhidboard::NextPlugAction(plugRequests, plugServed)) {
            if (action == kv::uhidboard::PlugAction::Unplug) {
                if (device.Created() && !device.Destroy()) {
                    return false;
                }
                if (verbose) {
                    std::fprintf(stderr, "uhid-board: unplugged on SIGUSR1\n");
                }
            } else {
                if (!device.Created() && !device.Create(identity)) {
                    return false;
                }
                if (verbose) {
                    std::fprintf(stderr, "uhid-board: replugged on SIGUSR2\n");
                }
            }
        }
        const int64_t left = deadlineMs - clock.NowMs();
        if (stopRequested || left <= 0) {
            return device.Service(0);
        }
        if (!device.Service(static_cast<int>(left > 50 ? 50 : left))) {
            return false;
        }
    }
}

// One run of the emulated board: its device, what it says it is, and the steps of playing.
// Each step returns false once the device failed; Failed() then says why.
class BoardRun {
public:
    BoardRun(const kv::uhidboard::BoardOptions& options, kv::uhid::DeviceIdentity identity)
        : options_(options), identity_(std::move(identity)) {}

    int Failed() const {
        std::fprintf(stderr, "uhid-board: %s\n", device_.Error().c_str());
        return 1;
    }

    bool Plug() {
        if (!device_.Open(options_.uhidPath) || !device_.Create(identity_)) {
            return false;
        }
        Say("created", 0);
        return true;
    }

    // Serves the kernel until a reader opens the device, the wait runs out or a stop signal.
    bool WaitForReader() {
        const int64_t giveUp = clock_.NowMs() + static_cast<int64_t>(options_.waitOpen * 1000.0);
        while (!device_.EverOpened() && !stopRequested && clock_.NowMs() < giveUp) {
            if (!device_.Service(50)) {
                return false;
            }
        }
        return true;
    }

    // Plays every step at its time, until the end or a stop signal.
    bool Play(kv::uhidboard::BoardPlayer& player) {
        const int64_t startMs = clock_.NowMs();
        for (auto step = player.Next(); step.kind != kv::uhidboard::PlayerStep::Kind::End;
             step = player.Next()) {
            if (!ServeUntil(device_, identity_, clock_, startMs + step.micros / 1000,
                            options_.verbose)) {
                return false;
            }
            if (stopRequested) {
                stopped_ = true;
                return true;
            }
            if (!Perform(step)) {
                return false;
            }
        }
        if (options_.verbose) {
            std::fprintf(stderr, "uhid-board: played %zu reports\n", reports_);
        }
        return true;
    }

    // Keeps the device for --linger seconds after the end.
    bool Linger() {
        return ServeUntil(device_, identity_, clock_,
                          clock_.NowMs() + static_cast<int64_t>(options_.linger * 1000),
                          options_.verbose);
    }

    bool EverOpened() const { return device_.EverOpened(); }
    // Whether a stop signal ended the playing before its end.
    bool Stopped() const { return stopped_; }
    void Say(const char* what, int64_t micros) const {
        if (options_.verbose) {
            std::fprintf(stderr, "uhid-board: %s at %.3f s\n", what, micros / 1e6);
        }
    }

private:
    bool Perform(const kv::uhidboard::PlayerStep& step) {
        switch (step.kind) {
            case kv::uhidboard::PlayerStep::Kind::Report:
                // An unplugged board sends nothing. A report the kernel refuses is the
                // emulation's fault, not the driver's: stop there.
                if (device_.Created()) {
                    if (!device_.Input(step.data, step.length)) {
                        return false;
                    }
                    ++reports_;
                }
                break;
            case kv::uhidboard::PlayerStep::Kind::Unplug:
                if (!device_.Destroy()) {
                    return false;
                }
                Say("unplugged", step.micros);
                break;
            case kv::uhidboard::PlayerStep::Kind::Replug:
                if (!device_.Created() && !device_.Create(identity_)) {
                    return false;
                }
                Say("replugged", step.micros);
                break;
            case kv::uhidboard::PlayerStep::Kind::End:
                break;
        }
        return true;
    }

    const kv::uhidboard::BoardOptions& options_;
    const kv::uhid::DeviceIdentity identity_;
    const kv::Clock& clock_ = kv::DefaultClock();
    kv::uhid::UhidDevice device_;
    size_t reports_ = 0;
    bool stopped_ = false;
};

int Run(const kv::uhidboard::BoardOptions& options) {
    auto player = MakePlayer(options);
    if (!player) {
        return 2;
    }
    BoardRun run(options, IdentityOf(player->Identity()));
    if (!run.Plug()) {
        return run.Failed();
    }
    if (options.waitOpen >= 0.0) {
        if (!run.WaitForReader()) {
            return run.Failed();
        }
        if (!run.EverOpened()) {
            std::fprintf(stderr, "uhid-board: no reader opened the device\n");
            return 1;
        }
        run.Say("opened by a reader", 0);
    }
    if (!run.Play(*player)) {
        return run.Failed();
    }
    if (run.Stopped()) {
        return 0;
    }
    return run.Linger() ? 0 : run.Failed();
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = kv::uhidboard::ParseBoardOptions(argc, argv);
    switch (parsed.action) {
        case kv::uhidboard::BoardAction::Help:
            std::fputs(kv::uhidboard::BoardUsage().c_str(), stdout);
            return 0;
        case kv::uhidboard::BoardAction::Fail:
            std::fprintf(stderr, "uhid-board: %s\n%s", parsed.message.c_str(),
                         kv::uhidboard::BoardUsage().c_str());
            return 2;
        case kv::uhidboard::BoardAction::Run:
            break;
    }
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGUSR1, OnUnplugSignal);
    std::signal(SIGUSR2, OnReplugSignal);
    return Run(parsed.options);
}
