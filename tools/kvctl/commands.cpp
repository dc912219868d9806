// The offline kvctl commands: table, encode and decode.
#include "tools/kvctl/commands.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "desktop/input_devices.h"
#include "desktop/sway_ipc.h"
#include "protocol/registry.h"
#include "tools/kvctl/field_assign.h"
#include "tools/kvctl/frame_decode.h"
#include "tools/kvctl/frame_encode.h"
#include "tools/kvctl/record_json.h"

namespace kv::kvctl {

int Usage(CommandIo& io, std::string_view command, const std::string& message) {
    io.err << "kvctl " << command << ": " << message << " (see kvctl " << command << " --help)\n";
    return kExitFailure;
}

namespace {

// "--name VALUE" or "--name=VALUE"; advances i past the value.
bool OptionValue(const Arguments& args, size_t& i, std::string_view name, std::string_view& value,
                 bool& missing) {
    const std::string_view arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size()) {
            missing = true;
            return true;
        }
        value = args[++i];
        return true;
    }
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

std::string_view OrDash(std::string_view text) {
    return text.empty() ? "-" : text;
}

}  // namespace

int RunTable(const Arguments& args, CommandIo& io) {
    if (!args.empty()) {
        return Usage(io, "table", "takes no arguments");
    }
    auto registry = std::make_unique<Registry>(ProgramRole::Controller);
    int number = 1;
    for (const TableEntry& entry : registry->Table()) {
        const std::string kind(entry.kind);
        const std::string object(OrDash(entry.object));
        const std::string topic(OrDash(entry.topic));
        char line[160];
        std::snprintf(line, sizeof line, "%2d %5d  %-6s  %-9s  %-11s  %-17s %5d  %d  %d\n",
                      number++, entry.address, kind.c_str(), object.c_str(), topic.c_str(),
                      ClassName(*entry.record).c_str(), entry.record->PayloadSize(), entry.tag,
                      entry.settable ? 1 : 0);
        io.out << line;
    }
    return kExitOk;
}

int RunEncode(const Arguments& args, CommandIo& io) {
    EncodeRequest request;
    bool haveRecord = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        std::string_view value;
        bool missing = false;
        if (OptionValue(args, i, "--from", value, missing)) {
            if (missing) {
                return Usage(io, "encode", "--from needs driver or controller");
            }
            if (value == "driver") {
                request.from = ProgramRole::Driver;
            } else if (value == "controller") {
                request.from = ProgramRole::Controller;
            } else {
                return Usage(io, "encode",
                             "--from takes driver or controller, not '" + std::string(value) + "'");
            }
            continue;
        }
        bool matched = false;
        for (auto [name, target] :
             {std::pair{"--valid", &request.eventValid}, std::pair{"--seq", &request.sequence},
              std::pair{"--tag", &request.tag}}) {
            if (!OptionValue(args, i, name, value, missing)) {
                continue;
            }
            matched = true;
            const auto number = missing ? std::nullopt : ParseInt(value);
            if (!number) {
                return Usage(io, "encode",
                             std::string(name) + " needs a 32-bit integer" +
                                 (missing ? "" : ", not '" + std::string(value) + "'"));
            }
            *target = *number;
            break;
        }
        if (matched) {
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            return Usage(io, "encode", "unknown option '" + std::string(arg) + "'");
        }
        if (!haveRecord) {
            if (arg.find('=') != std::string_view::npos) {
                return Usage(io, "encode", "name the record (OBJECT/TOPIC) before its fields");
            }
            request.record = std::string(arg);
            haveRecord = true;
            continue;
        }
        if (arg.find('=') == std::string_view::npos) {
            return Usage(io, "encode", "expected FIELD=VALUE, not '" + std::string(arg) + "'");
        }
        request.assignments.emplace_back(arg);
    }
    if (!haveRecord) {
        return Usage(io, "encode", "which record? (OBJECT/TOPIC, END or hello)");
    }

    const EncodeResult result = EncodeFrame(request);
    if (!result.ok) {
        return Usage(io, "encode", result.error);
    }
    for (const std::string& notice : result.notices) {
        io.err << "kvctl encode: " << notice << '\n';
    }
    io.out << ToHex(result.frame.data(), result.frame.size()) << '\n';
    return kExitOk;
}

int RunDecode(const Arguments& args, CommandIo& io) {
    if (args.empty()) {
        return Usage(io, "decode", "give the datagram as HEX, or - to read one per line");
    }
    DatagramDecoder decoder;
    std::vector<uint8_t> bytes;
    std::string error;
    bool ok = true;
    auto decodeOne = [&](std::string_view hex, const std::string& where) {
        if (!ParseHex(hex, bytes, error)) {
            io.err << "kvctl decode: " << where << ": " << error << '\n';
            ok = false;
            return;
        }
        if (!decoder.Decode(bytes.data(), bytes.size(), io.out)) {
            ok = false;
        }
    };

    if (args.size() == 1 && args[0] == "-") {
        std::string line;
        int lineNumber = 0;
        while (std::getline(io.in, line)) {
            ++lineNumber;
            if (line.find_first_not_of(" \t\r") == std::string::npos) {
                continue;  // blank lines carry no datagram
            }
            decodeOne(line, "line " + std::to_string(lineNumber));
        }
    } else {
        int argument = 0;
        for (const std::string_view hex : args) {
            ++argument;
            if (hex == "-") {
                return Usage(io, "decode", "- reads standard input and stands alone");
            }
            decodeOne(hex, "argument " + std::to_string(argument));
        }
    }
    io.out.flush();
    return ok ? kExitOk : kExitFailure;
}

int RunMapOutput(const Arguments& args, CommandIo& io) {
    Arguments words;
    bool apply = false;
    for (const std::string_view arg : args) {
        if (arg == "--apply") {
            apply = true;
        } else {
            words.push_back(arg);
        }
    }
    if (words.size() != 1) {
        return Usage(io, "map-output", "give one output name, e.g. HDMI-A-1");
    }
    const std::string_view output = words[0];
    // "*" is sway's whole layout, for undoing an applied mapping.
    if (!IsOutputName(output) && !(apply && output == "*")) {
        // Built with append: GCC 12 at -O3 warns falsely about operator+ on a literal.
        std::string message = "'";
        message.append(output).append(
            "' is no output name (letters, digits, '-', '_' and '.', at most 64)");
        return Usage(io, "map-output", message);
    }
    if (apply) {
        const char* socket = std::getenv("SWAYSOCK");
        if (socket == nullptr || *socket == '\0') {
            io.err << "kvctl map-output: --apply needs a running sway (SWAYSOCK is not set); "
                      "other compositors take the printed settings\n";
            return kExitNotDone;
        }
        const SwayMapResult result = MapDevicesInSway(socket, output);
        if (!result.ok) {
            io.err << "kvctl map-output: " << result.failedCommand << ": " << result.error << "\n";
            if (output != "*") {
                io.err << (result.undone ? "kvctl map-output: undone; both devices span all "
                                           "outputs again\n"
                                         : "kvctl map-output: could not undo it; try kvctl "
                                           "map-output '*' --apply\n");
            }
            return kExitNotDone;
        }
        for (const std::string& command : result.commands) {
            io.out << command << "\n";
        }
        return kExitOk;
    }
    bool first = true;
    for (const CompositorSetting& setting : OutputMappingSettings(output)) {
        io.out << (first ? "" : "\n") << "# " << setting.compositor << ": " << setting.where << "\n"
               << setting.text;
        first = false;
    }
    return kExitOk;
}

}  // namespace kv::kvctl
