// sway's IPC, as far as tying the Driver's devices to an output needs it: one RUN_COMMAND
// message over the socket named in $SWAYSOCK, and whether sway took the command.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv {

struct SwayCommandResult {
    bool ok = false;
    std::string error;  // why not, in sway's words or ours
};

// Reads a RUN_COMMAND reply's payload, a JSON array with one {"success": ..., "error": ...}
// per command: ok when there is at least one result and every one succeeded.
SwayCommandResult ParseSwayCommandReply(std::string_view payload);

// Sends one command (e.g. "input 56797:1:Kelvarin_Vyren_touchscreen map_to_output DP-1") to
// the sway at socketPath and waits at most timeoutMs for the whole exchange, however slowly
// the answer comes.
SwayCommandResult RunSwayCommand(const std::string& socketPath, std::string_view command,
                                 int timeoutMs = 1000);

struct SwayMapResult {
    bool ok = false;
    std::string error;                  // why sway did not take failedCommand
    std::string failedCommand;          // empty when ok
    std::vector<std::string> commands;  // the commands sway took, in order
    // After a failure: both devices are spread over all outputs again, so that none stays
    // tied to the output while the other is not.
    bool undone = false;
};

// Ties both of the Driver's devices to output (SwayMapCommands) in the sway at socketPath;
// "*" spreads them over all outputs again. Half tied is worse than not at all: when sway takes
// only some of the commands, the mapping is undone. timeoutMs bounds each command.
SwayMapResult MapDevicesInSway(const std::string& socketPath, std::string_view output,
                               int timeoutMs = 1000);

}  // namespace kv
