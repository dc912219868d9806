// The live kvctl commands: they talk to a running Driver over loopback UDP.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/clock.h"
#include "tools/kvctl/commands.h"
#include "tools/kvctl/datagram_link.h"

namespace kv::kvctl {

constexpr int kExitNoDriver = 1;  // nothing answered, or the driver stopped half-way
constexpr int kDefaultTimeoutMs = 3000;
// monitor's output was closed: the status a shell gives a program ended by SIGPIPE.
constexpr int kExitOutputClosed = 141;

// What the live commands need from the system, so that tests can stand in for it.
struct LiveEnvironment {
    std::function<std::unique_ptr<DatagramLink>(uint16_t port, bool trustLoopback,
                                                std::string& error)>
        open;
    const Clock& clock;
    // Polled by monitor; true once the user asked it to end (SIGINT, SIGTERM).
    std::function<bool()> stopRequested;
};

// Every command takes [--port N] (the driver's port, default 11249), [--timeout S] and
// [--trust-loopback].
// status: every record of the driver's publish-all as the JSON line decode prints.
int RunStatus(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
// get OBJECT/TOPIC: one record.
int RunGet(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
// set OBJECT/TOPIC FIELD=VALUE... [--save]: the driver's record with the fields changed.
int RunSet(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
// save, load, stop: the counted events Store/DoSave, Store/DoLoad, Driver/DoStop.
int RunSave(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
int RunLoad(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
int RunStop(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
// health [--json] [--min-fps N]: one line (or a JSON object) and the exit status kHealth*.
int RunHealth(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
// metrics [--textfile DIR]: the foil's state in the Prometheus text format, on standard output
// or replacing DIR/kelvarin.prom at once.
int RunMetrics(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
// calibration reset [--settings FILE]: the identity calibration in DRIVER.INI (FILE, or where
// the driver beside kvctl keeps it), then the driver reads it again.
int RunCalibration(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
// export FILE|- [--with-calibration]: the driver's tuning as a commented INI file.
int RunExport(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
// import FILE [--dry-run] [--settings FILE]: checks every value, then sends the records in a
// safe order, saves and reads them back; the calibration goes through DRIVER.INI.
int RunImport(const Arguments& args, CommandIo& io, const LiveEnvironment& env);
// monitor: stays connected and prints a line per change until stopRequested.
int RunMonitor(const Arguments& args, CommandIo& io, const LiveEnvironment& env);

}  // namespace kv::kvctl
