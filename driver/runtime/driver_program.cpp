// Start-up order, wiring and shutdown of the Driver process.
#include "driver/runtime/driver_program.h"

#include <cstdio>
#include <vector>

#include "driver/runtime/chid.h"
#include "driver/runtime/driver_clock.h"
#include "driver/runtime/frame_engine.h"
#include "driver/runtime/hidapi_sensor_link.h"
#include "driver/runtime/scripted_sensor_link.h"
#include "driver/runtime/settings_file.h"
#include "driver/runtime/single_instance.h"
#include "driver/runtime/verbose_log.h"
#include "messaging/network.h"
#include "messaging/registry.h"

namespace kv {

namespace {

constexpr int kScriptedPeriodMs = 10;
constexpr size_t kScriptedReportBytes = 65;
constexpr uint8_t kScriptedLevel = 100;

}  // namespace

std::unique_ptr<SensorLink> MakeSensorLink(const DriverOptions& options, const Clock& clock) {
    if (options.link == LinkKind::Scripted) {
        auto link = std::make_unique<ScriptedSensorLink>(clock);
        std::vector<uint8_t> report(kScriptedReportBytes, kScriptedLevel);
        report[0] = 0;
        link->StreamReport(std::move(report), kScriptedPeriodMs);
        return link;
    }
    return std::make_unique<HidapiSensorLink>();
}

int RunDriver(const DriverOptions& options) {
    const VerboseLog log(options.verbose);
    const DriverClock clock;

    const std::string lockPath = LockFolder() + "/" + kDriverLockName;
    const auto instance = SingleInstance::Acquire(lockPath, kSingleInstanceWaitMs, clock);
    if (!instance) {
        log.Say("another Driver holds " + lockPath);
        return kExitAnotherInstance;
    }

    Registry::SetProcessRole(ProgramRole::Driver);
    Registry& registry = Registry::Instance();

    NetworkConfig config = NetworkConfig::ForDriver();
    config.localPort = options.port;
    config.peerPort = options.peerPort;
    Network network(registry, config);
    if (!network.Ok()) {
        std::fprintf(stderr, "Driver: %s\n", network.Error().c_str());
        return 1;
    }
    network.SetRunning(true);

    const std::unique_ptr<SensorLink> link = MakeSensorLink(options, clock);
    NullFrameEngine engine;
    NullCalibration calibration;
    SettingsFile settings(DefaultSettingsPath(), log);
    // Large once the engine holds its histories: on the heap, not the stack.
    auto hid = std::make_unique<CHid>(registry, *link, engine, settings, clock, log);

    hid->BuildEngine(calibration);
    network.SetReady();
    hid->Connect();
    hid->Run();

    network.SetRunning(false);
    network.Stop();
    hid.reset();  // closes the board
    return 0;
}

int DriverMain(int argc, const char* const* argv) {
    const ParsedOptions parsed = ParseDriverOptions(argc, argv);
    switch (parsed.action) {
        case OptionsAction::Help:
            std::fputs(DriverUsage().c_str(), stdout);
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
