// The Driver's command line. One table of options, so new ones are one row each.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "driver/core/display_info.h"
#include "driver/core/touch_path.h"
#include "transport/network.h"

namespace kv {

constexpr const char* kDriverVersion = "10.3.0";

// Where frames come from.
enum class LinkKind {
    Hid,        // the sensor board through hidapi
    Scripted,   // a built-in fake board streaming a fixed report every 10 ms
    Simulated,  // the simulated foil playing a scenario
    Replay,     // a recorded board played back from a hid-recorder file
};

// Where TUIO cursors are sent (touch mode TUIO): --tuio=HOST:PORT.
struct TuioTarget {
    std::string host = "127.0.0.1";  // an IPv4 address or a host name, looked up at start
    uint16_t port = 3333;
};

// Reads HOST:PORT into target; returns an empty string or what is wrong with the text.
std::string ParseTuioTarget(std::string_view text, TuioTarget& target);

struct DriverOptions {
    bool verbose = false;
    uint16_t port = kDriverPort;
    uint16_t peerPort = kControllerPort;
    LinkKind link = LinkKind::Hid;
    std::string scenario = "idle";  // --simulate: a file, a built-in name, "-" or a named pipe
    std::string liveInput;          // --simulate-input: "-", a named pipe, or empty for none
    std::string replayPath;         // --replay
    std::string recordPath;         // --record: empty for none
    bool fast = false;              // --replay-fast: no pacing of replayed or simulated frames
    std::string pointer = "auto";   // --pointer: auto, uinput, xtest or none
    int stopWithPid = 0;            // --stop-with: end when this process ends; 0 for none
    bool trustLoopback = false;     // --trust-loopback: any local user may control the driver
    TuioTarget tuio;                // --tuio
    std::optional<ScreenMillimetres> screenMm;  // --screen-mm; none: the display's or default
    TouchPath touch = TouchPath::Classic;       // --touch
};

enum class OptionsAction { Run, Help, Version, Fail };

struct ParsedOptions {
    OptionsAction action = OptionsAction::Run;
    DriverOptions options;
    std::string message;  // why parsing failed
};

// Options are "--name", "--name=value" or "--name value"; the first unknown or malformed one
// fails the whole command line.
ParsedOptions ParseDriverOptions(int argc, const char* const* argv);
// The usage for --help; settingsPath is where DRIVER.INI is for this run.
std::string DriverUsage(const std::string& settingsPath);

// Exit status for a command line that could not be parsed.
constexpr int kExitUsage = 2;

}  // namespace kv
