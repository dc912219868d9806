// The kvctl commands, callable in-process: each takes the arguments after its name and
// returns the exit status.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kv::kvctl {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 2;  // usage errors and frames that did not decode
// What was asked could not be done: no driver answered, a file could not be read or written,
// the driver could not save. The same status as a driver that does not answer.
constexpr int kExitNotDone = 1;

struct CommandIo {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
};

using Arguments = std::vector<std::string_view>;

// Says on standard error what was wrong with the command's words and where its help is;
// returns kExitFailure.
int Usage(CommandIo& io, std::string_view command, const std::string& message);

// The 38 table entries, one per line.
int RunTable(const Arguments& args, CommandIo& io);
// OBJECT/TOPIC|END|hello [--from driver|controller] [--valid N] [--seq N] [--tag N]
// [FIELD=VALUE ...]: the frame as one line of lowercase hex.
int RunEncode(const Arguments& args, CommandIo& io);
// HEX... or -: one JSON object per frame.
int RunDecode(const Arguments& args, CommandIo& io);
// OUTPUT [--apply]: each Wayland compositor's setting that maps the Driver's devices to that
// output; --apply sends sway's to the running sway instead.
int RunMapOutput(const Arguments& args, CommandIo& io);

}  // namespace kv::kvctl
