// uhid-board: the sensor board emulated through /dev/uhid, playing a scenario or a
// hid-recorder file at its pace, for testing the driver against the kernel's HID layer.
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "driver/sim/hid_recording.h"
#include "driver/sim/scenario.h"
#include "messaging/clock.h"
#include "tools/uhid-board/board_options.h"
#include "tools/uhid-board/board_player.h"
#include "tools/uhid-board/uhid_device.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t unplugRequested = 0;
volatile std::sig_atomic_t replugRequested = 0;

void OnStopSignal(int) {
    stopRequested = 1;
}
void OnUnplugSignal(int) {
    unplugRequested = 1;
}
void OnReplugSignal(int) {
    replugRequested = 1;
}

kv::uhid::DeviceIdentity IdentityOf(const kv::sim::HidRecording& recording) {
    kv::uhid::DeviceIdentity identity;
    identity.name = recording.name;
    identity.bus = recording.bus;
    identity.vendor = recording.vendor;
    identity.product = recording.product;
    identity.descriptor = recording.descriptor;
    return identity;
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
        if (unplugRequested) {
            unplugRequested = 0;
            if (!device.Destroy()) {
                return false;
            }
            if (verbose) {
                std::fprintf(stderr, "uhid-board: unplugged on SIGUSR1\n");
            }
        }
        if (replugRequested) {
            replugRequested = 0;
            if (!device.Created() && !device.Create(identity)) {
                return false;
            }
            if (verbose) {
                std::fprintf(stderr, "uhid-board: replugged on SIGUSR2\n");
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

int Run(const kv::uhidboard::BoardOptions& options) {
    auto player = MakePlayer(options);
    if (!player) {
        return 2;
    }
    const kv::uhid::DeviceIdentity identity = IdentityOf(player->Identity());
    kv::uhid::UhidDevice device;
    auto failed = [&device]() {
        std::fprintf(stderr, "uhid-board: %s\n", device.Error().c_str());
        return 1;
    };
    if (!device.Open(options.uhidPath) || !device.Create(identity)) {
        return failed();
    }
    auto say = [&options](const char* what, int64_t micros) {
        if (options.verbose) {
            std::fprintf(stderr, "uhid-board: %s at %.3f s\n", what, micros / 1e6);
        }
    };
    say("created", 0);
    const kv::Clock& clock = kv::DefaultClock();
    if (options.waitOpen >= 0.0) {
        const int64_t giveUp = clock.NowMs() + static_cast<int64_t>(options.waitOpen * 1000.0);
        while (!device.EverOpened() && !stopRequested && clock.NowMs() < giveUp) {
            if (!device.Service(50)) {
                return failed();
            }
        }
        if (!device.EverOpened()) {
            std::fprintf(stderr, "uhid-board: no reader opened the device\n");
            return 1;
        }
        say("opened by a reader", 0);
    }
    const int64_t startMs = clock.NowMs();
    size_t reports = 0;
    for (auto step = player->Next(); step.kind != kv::uhidboard::PlayerStep::Kind::End;
         step = player->Next()) {
        if (!ServeUntil(device, identity, clock, startMs + step.micros / 1000, options.verbose)) {
            return failed();
        }
        if (stopRequested) {
            return 0;
        }
        switch (step.kind) {
            case kv::uhidboard::PlayerStep::Kind::Report:
                // An unplugged board sends nothing. A report the kernel refuses is the
                // emulation's fault, not the driver's: stop there.
                if (device.Created()) {
                    if (!device.Input(step.data, step.length)) {
                        return failed();
                    }
                    ++reports;
                }
                break;
            case kv::uhidboard::PlayerStep::Kind::Unplug:
                if (!device.Destroy()) {
                    return failed();
                }
                say("unplugged", step.micros);
                break;
            case kv::uhidboard::PlayerStep::Kind::Replug:
                if (!device.Created() && !device.Create(identity)) {
                    return failed();
                }
                say("replugged", step.micros);
                break;
            case kv::uhidboard::PlayerStep::Kind::End:
                break;
        }
    }
    if (options.verbose) {
        std::fprintf(stderr, "uhid-board: played %zu reports\n", reports);
    }
    if (!ServeUntil(device, identity, clock,
                    clock.NowMs() + static_cast<int64_t>(options.linger * 1000), options.verbose)) {
        return failed();
    }
    return 0;
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
