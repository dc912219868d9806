// Start-up order, wiring and shutdown of the Driver process.
#include "driver/app/driver_program.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/app/pointer_backend.h"
#include "driver/app/single_instance.h"
#include "driver/app/stop_requests.h"
#include "driver/backends/hidapi/hidapi_sensor_link.h"
#include "driver/backends/hidapi/hidapi_touch_endpoint.h"
#include "driver/backends/tuio/host_address.h"
#include "driver/backends/tuio/udp_packet_sender.h"
#include "driver/backends/uinput/uinput_pointer.h"
#include "driver/backends/uinput/uinput_touchscreen.h"
#include "driver/backends/x11/x11_display.h"
#include "driver/backends/x11/xtest_pointer.h"
#include "driver/board/main_loop.h"
#include "driver/board/queued_touch_endpoint.h"
#include "driver/board/signal_chain.h"
#include "driver/board/virtual_touch_device.h"
#include "driver/core/driver_clock.h"
#include "driver/core/frame_processor.h"
#include "driver/core/verbose_log.h"
#include "driver/settings/settings_file.h"
#include "driver/sim/recording_sensor_link.h"
#include "driver/sim/replay_sensor_link.h"
#include "driver/sim/scripted_sensor_link.h"
#include "driver/sim/simulated_sensor_link.h"
#include "driver/tuio/tuio_output.h"
#include "protocol/registry.h"
#include "transport/network.h"

namespace kv {

namespace {

constexpr int kScriptedPeriodMs = 10;
constexpr size_t kScriptedReportBytes = 65;
constexpr uint8_t kScriptedLevel = 100;
// How long a new uinput touchscreen gets for the desktop to open it before the first events.
constexpr int kTouchscreenSettleMs = 250;

}  // namespace

LinkChoice MakeSensorLink(const DriverOptions& options, const Clock& clock, Registry& registry) {
    LinkChoice choice;
    switch (options.link) {
        case LinkKind::Scripted: {
            auto link = std::make_unique<ScriptedSensorLink>(clock);
            std::vector<uint8_t> report(kScriptedReportBytes, kScriptedLevel);
            report[0] = 0;
            link->StreamReport(std::move(report), kScriptedPeriodMs);
            choice.link = std::move(link);
            break;
        }
        case LinkKind::Simulated: {
            // Standard input or a named pipe as the scenario: an idle foil that event lines
            // touch live; --simulate-input adds such lines to any scenario.
            const bool live = sim::IsLiveSource(options.scenario);
            const std::string liveSource = !options.liveInput.empty() ? options.liveInput
                                           : live                     ? options.scenario
                                                                      : std::string();
            std::unique_ptr<sim::LiveScenarioInput> liveInput;
            if (!liveSource.empty()) {
                std::string error;
                liveInput = sim::LiveScenarioInput::Open(
                    liveSource,
                    [](const std::string& line) {
                        std::fprintf(stderr, "Driver: live input %s\n", line.c_str());
                    },
                    error);
                if (!liveInput) {
                    choice.error = error;
                    break;
                }
            }
            sim::ScenarioError error;
            auto scenario = sim::LoadScenario(live ? "idle" : options.scenario, error);
            if (!scenario) {
                choice.error = "scenario " + options.scenario + ": " + error.Text();
                break;
            }
            auto layoutOfSettings = [&registry] { return LayoutOf(registry); };
            choice.fixedLayout = LayoutForModel(scenario->layout);
            auto link = std::make_unique<sim::SimulatedSensorLink>(*scenario, clock, !options.fast,
                                                                   layoutOfSettings);
            link->SetLiveInput(std::move(liveInput));
            choice.link = std::move(link);
            break;
        }
        case LinkKind::Replay: {
            std::string error;
            auto recording = sim::LoadHidRecording(options.replayPath, error);
            if (!recording) {
                choice.error = error;
                break;
            }
            choice.link = std::make_unique<sim::ReplaySensorLink>(std::move(*recording), clock,
                                                                  !options.fast);
            break;
        }
        case LinkKind::Hid:
            choice.link = std::make_unique<HidapiSensorLink>();
            break;
    }
    return choice;
}

namespace {

// The virtual touch device's endpoint, open: the HID endpoint when one exists, else a uinput
// touchscreen, else none (every contact report is then dropped). Both are written from a
// thread of their own: hid_write has no time-out, and a touchscreen made just now needs a
// moment before its readers see events.
std::unique_ptr<TouchEndpoint> MakeTouchEndpoint(const VerboseLog& log, ScreenMillimetres screen) {
    auto hid = std::make_unique<CHidVMT>();
    if (hid->Open()) {
        log.Say("virtual touch device: HID endpoint dddd:0001");
        return std::make_unique<QueuedTouchEndpoint>(std::move(hid));
    }
    auto uinput = std::make_unique<UinputTouchscreen>("/dev/uinput", screen);
    if (uinput->Open()) {
        log.Say("virtual touch device: uinput touchscreen");
        return std::make_unique<QueuedTouchEndpoint>(std::move(uinput), kTouchscreenSettleMs);
    }
    log.Say("virtual touch device: none (no HID endpoint, /dev/uinput not writable)");
    return nullptr;
}

// The pointer backend in use, for the Wayland note.
PointerReach ReachOf(const PointerInjector* injector, PointerBackend requested) {
    if (dynamic_cast<const UinputPointer*>(injector) != nullptr) {
        return PointerReach::Uinput;
    }
    if (dynamic_cast<const XTestPointer*>(injector) != nullptr) {
        return requested == PointerBackend::XTest ? PointerReach::XTestAsked : PointerReach::XTest;
    }
    return requested == PointerBackend::None ? PointerReach::Off : PointerReach::Nothing;
}

}  // namespace

std::string WaylandNote(const std::string& waylandDisplay, PointerReach reach) {
    if (waylandDisplay.empty()) {
        return {};
    }
    std::string note =
        "Driver: note: this is a Wayland session (WAYLAND_DISPLAY=" + waylandDisplay +
        ").\n"
        "  XTest injection reaches only X11 programs (through XWayland), and the\n"
        "  screen rotation is not known to the driver (it asks X11 only).\n  ";
    switch (reach) {
        case PointerReach::Uinput:
            note += "Touches reach every window through the uinput pointer.";
            break;
        case PointerReach::XTest:
            note +=
                "/dev/uinput is not writable, so touches go through XTest and reach only\n"
                "  X11 windows; give the user write access to /dev/uinput to reach every "
                "window.";
            break;
        case PointerReach::XTestAsked:
            note +=
                "Touches go through XTest (--pointer=xtest) and reach only X11 windows;\n"
                "  --pointer=uinput reaches every window.";
            break;
        case PointerReach::Nothing:
            note +=
                "/dev/uinput is not writable and there is no X11 display, so touches reach\n"
                "  no window; give the user write access to /dev/uinput.";
            break;
        case PointerReach::Off:
            note += "The pointer output is off (--pointer=none).";
            break;
    }
    return note + "\n";
}

namespace {

// The single-instance lock; empty, with the exit status set, when another Driver holds it or
// it cannot be taken at all.
std::unique_ptr<SingleInstance> LockInstance(const Clock& clock, const VerboseLog& log,
                                             int& exitStatus) {
    std::string lockError;
    const std::string folder = LockFolder(&lockError);
    if (folder.empty()) {
        std::fprintf(stderr, "Driver: %s\n", lockError.c_str());
        exitStatus = kExitNoLock;
        return nullptr;
    }
    const std::string lockPath = folder + "/" + kDriverLockName;
    auto instance = SingleInstance::Acquire(lockPath, kSingleInstanceWaitMs, clock, &lockError);
    if (!instance && !lockError.empty()) {
        std::fprintf(stderr, "Driver: %s\n", lockError.c_str());
        exitStatus = kExitNoLock;
    } else if (!instance) {
        log.Say("another Driver holds " + lockPath);
        exitStatus = kExitAnotherInstance;
    }
    return instance;
}

// The link the driver reads: the frame source itself, or a recorder in front of it when
// --record asks for one; null (after saying why) when the recording cannot be written.
SensorLink* RecordIfAsked(const DriverOptions& options, SensorLink& source, const Clock& clock,
                          std::unique_ptr<sim::RecordingSensorLink>& recorder) {
    if (options.recordPath.empty()) {
        return &source;
    }
    recorder = std::make_unique<sim::RecordingSensorLink>(source, clock);
    if (!recorder->Start(options.recordPath)) {
        std::fprintf(stderr, "Driver: cannot write the recording %s: %s\n",
                     options.recordPath.c_str(), std::strerror(errno));
        return nullptr;
    }
    return recorder.get();
}

// The pointer output --pointer asks for; says why when there is none, and gives the Wayland
// note once, with or without --verbose: under Wayland much of the desktop side is limited.
PointerBackendChoice OpenPointer(const DriverOptions& options, ScreenMillimetres screen,
                                 const VerboseLog& log) {
    PointerBackend backend = PointerBackend::Auto;
    ParsePointerBackend(options.pointer, backend);
    PointerEnvironment env = PointerEnvironment::FromProcess();
    env.screen = screen;
    PointerBackendChoice pointer = ChoosePointerBackend(backend, env);
    if (!pointer.injector) {
        std::fprintf(stderr, "Driver: %s\n", pointer.error.c_str());
        return pointer;
    }
    log.Say("pointer output: " + pointer.description);
    if (const char* wayland = std::getenv("WAYLAND_DISPLAY"); wayland != nullptr) {
        std::fputs(WaylandNote(wayland, ReachOf(pointer.injector.get(), backend)).c_str(), stderr);
    }
    return pointer;
}

// As if the user had picked the simulated foil's model: the settings follow it.
void ApplyFixedLayout(const LinkChoice& source, Registry& registry, const VerboseLog& log) {
    SetLayout(registry, *source.fixedLayout);
    log.Say("simulated foil: the scenario's sensor model sets the frame layout");
}

// The driver's endpoint on the ports --port and --peer-port name. Another user's datagrams
// are dropped; --verbose names each source once, at most five in five seconds.
NetworkConfig DriverNetworkConfig(const DriverOptions& options, const VerboseLog& log) {
    NetworkConfig config = NetworkConfig::ForDriver();
    config.localPort = options.port;
    config.peerPort = options.peerPort;
    config.trustLoopback = options.trustLoopback;
    if (options.verbose) {
        config.onRefusal = [&log](std::optional<uint32_t> uid, uint16_t port, uint64_t unnamed) {
            log.Say("refused datagrams from port " + std::to_string(port) + ": " +
                    (uid ? "uid " + std::to_string(*uid) + " is not this driver's user"
                         : std::string("its owner cannot be found")) +
                    (unnamed > 0 ? " (" + std::to_string(unnamed) + " more sources not named yet)"
                                 : std::string()));
        };
    }
    return config;
}

// TUIO packets go to the --tuio target, its host looked up once.
TuioOutput::SenderFactory TuioSenders(const std::string& address, uint16_t port) {
    return [address, port]() -> std::unique_ptr<TUIO::PacketSender> {
        return std::make_unique<TUIO::UdpPacketSender>(address, port);
    };
}

// The picture the touch devices' positions span, for their resolution: as the user gave it,
// else as the X server gives it, else the example 55-inch screen.
ScreenMillimetres ScreenSize(const DriverOptions& options, const DisplayInfo& display,
                             const VerboseLog& log) {
    const char* from = "--screen-mm";
    ScreenMillimetres size = kDefaultScreenMm;
    if (options.screenMm) {
        size = *options.screenMm;
    } else if (const auto server = display.SizeMm()) {
        size = *server;
        from = "the X server";
    } else {
        from = "the default; --screen-mm sets it";
    }
    log.Say("screen size for the input devices: " + std::to_string(size.width) + " x " +
            std::to_string(size.height) + " mm (" + from + ")");
    return size;
}

// Where touches go besides the pointer. Built in place.
struct TouchOutputs {
    TouchOutputs(const VerboseLog& log, ScreenMillimetres screen, const std::string& tuioAddress,
                 uint16_t tuioPort)
        : touchDevice([&log, screen] { return MakeTouchEndpoint(log, screen); }),
          tuio(DefaultTuioClock(), TuioSenders(tuioAddress, tuioPort)) {}

    VirtualTouchDevice touchDevice;
    TuioOutput tuio;
};

}  // namespace

int RunDriver(const DriverOptions& options) {
    const VerboseLog log(options.verbose);
    const DriverClock clock;
    // A name that cannot be looked up ends the run (status 1, so a service manager tries
    // again, as when the network is not up yet).
    const TUIO::HostAddress tuioTarget = TUIO::LookUpIpv4(options.tuio.host);
    if (tuioTarget.address.empty()) {
        std::fprintf(stderr, "Driver: --tuio: %s\n", tuioTarget.error.c_str());
        return 1;
    }
    log.Say("TUIO cursors go to " + tuioTarget.address + ":" + std::to_string(options.tuio.port));

    std::unique_ptr<ProcessWatch> parentWatch;
    if (!WatchStopWith(options.stopWithPid, parentWatch)) {
        return kExitUsage;
    }
    int lockStatus = 0;
    const auto instance = LockInstance(clock, log, lockStatus);
    if (!instance) {
        return lockStatus;
    }

    Registry::SetProcessRole(ProgramRole::Driver);
    Registry& registry = Registry::Instance();
    StopOnSignals(registry.driverDoStop);
    if (parentWatch) {
        parentWatch->Start();
    }

    LinkChoice source = MakeSensorLink(options, clock, registry);
    if (!source.link) {
        std::fprintf(stderr, "Driver: %s\n", source.error.c_str());
        return 1;
    }
    std::unique_ptr<sim::RecordingSensorLink> recorder;
    SensorLink* link = RecordIfAsked(options, *source.link, clock, recorder);
    if (link == nullptr) {
        return 1;
    }
    // The display the touches are mapped to.
    const std::unique_ptr<DisplayInfo> display = MakeDisplayInfo(std::getenv("DISPLAY"));
    const ScreenMillimetres screen = ScreenSize(options, *display, log);
    PointerBackendChoice pointer = OpenPointer(options, screen, log);
    if (!pointer.injector) {
        return 1;
    }

    Network network(registry, DriverNetworkConfig(options, log));
    if (!network.CanTellSenders()) {
        std::fprintf(stderr, "%s\n", NoOwnerLookupMessage("Driver").c_str());
    }
    if (!network.Ok()) {
        // The endpoint keeps trying the bind on its own; frames, output and saving go on.
        std::fprintf(stderr, "Driver: %s; retrying every second\n", network.Error().c_str());
    }
    network.SetRunning(true);

    TouchOutputs outputs(log, screen, tuioTarget.address, options.tuio.port);
    // Large (sample histories, template matrices, pointer histories): on the heap.
    auto chain = std::make_unique<SignalChain>(registry, *display, *pointer.injector,
                                               outputs.touchDevice, outputs.tuio, options.touch);
    // Refused calibration references (nan, inf) are said under --verbose.
    chain->Calibration().SetNotice([&log](std::string_view line) { log.Say(line); });
    SettingsFile settings(DefaultSettingsPath(), log);
    auto hid = std::make_unique<CHid>(registry, *link, *chain, settings, clock, log);

    hid->BuildEngine(*chain);
    if (source.fixedLayout) {
        ApplyFixedLayout(source, registry, log);
    }
    // In native touch the touchscreen is there from the start, before any browser or
    // compositor looks for one and before the first contact.
    chain->FollowTouchMode();
    network.SetReady();
    hid->Connect();
    hid->Run();

    network.SetRunning(false);
    network.Stop();
    if (const uint64_t refused = network.RefusedDatagrams(); refused > 0) {
        log.Say("refused " + std::to_string(refused) + " datagrams of other users' programs");
    }
    hid.reset();  // closes the board
    return 0;
}

int DriverMain(int argc, const char* const* argv) {
    const ParsedOptions parsed = ParseDriverOptions(argc, argv);
    switch (parsed.action) {
        case OptionsAction::Help:
            std::fputs(DriverUsage(DefaultSettingsPath()).c_str(), stdout);
            return 0;
        case OptionsAction::Version:
            std::printf("%s\n", kDriverVersion);
            return 0;
        case OptionsAction::Fail:
            std::fprintf(stderr, "Driver: %s\nTry 'Driver --help'.\n", parsed.message.c_str());
            return kExitUsage;
        case OptionsAction::Run:
            break;
    }
    return RunDriver(parsed.options);
}

}  // namespace kv
