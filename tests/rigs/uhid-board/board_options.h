// uhid-board's command line.
#pragma once

#include <string>

namespace kv::uhidboard {

struct BoardOptions {
    std::string scenario;   // --scenario: a file or a built-in name
    std::string recording;  // --recording: a hid-recorder file
    std::string uhidPath = "/dev/uhid";
    double unplugAt = -1.0;  // --unplug-at: seconds into a recording; -1 none
    double replugAt = -1.0;  // --replug-at
    double waitOpen = -1.0;  // --wait-open: start when a reader opens, waiting this long
    double linger = 0.0;     // --linger: seconds the device stays after the end
    bool verbose = false;
};

enum class BoardAction { Run, Help, Fail };

struct ParsedBoardOptions {
    BoardAction action = BoardAction::Run;
    BoardOptions options;
    std::string message;  // why parsing failed
};

// Options are "--name" or "--name=value"; exactly one of --scenario and --recording.
ParsedBoardOptions ParseBoardOptions(int argc, const char* const* argv);
std::string BoardUsage();

}  // namespace kv::uhidboard
