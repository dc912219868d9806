// The live commands' shared options and record look-up.
#include "tools/kvctl/conversation.h"

#include <algorithm>
#include <cmath>

#include "common/command_line.h"
#include "tools/kvctl/field_assign.h"

namespace kv::kvctl {

// --port N, --timeout S and (where allowed) --save; "--name=value" works too.
std::optional<LiveOptions> ParseLiveOptions(const Arguments& args, std::string_view command,
                                            bool allowSave, CommandIo& io) {
    LiveOptions options;
    CommandLine words(args);
    while (!words.AtEnd()) {
        const OptionWord option = words.Next();
        const std::string_view arg = words.Word();
        if (option.name == "--port" || option.name == "--timeout") {
            const auto value = words.ValueOf(option);
            if (!value) {
                Usage(io, command, std::string(option.name) + " needs a value");
                return std::nullopt;
            }
            if (option.name == "--port") {
                const auto port = ParseInt(*value);
                if (!port || *port < 1 || *port > 65535) {
                    Usage(io, command, "--port takes 1..65535, not '" + std::string(*value) + "'");
                    return std::nullopt;
                }
                options.port = static_cast<uint16_t>(*port);
            } else {
                const auto seconds = ParseReal(*value);
                if (!seconds || *seconds <= 0.0f || *seconds > kLongestTimeoutS) {
                    Usage(io, command,
                          "--timeout takes seconds above 0 (at most 3600), not '" +
                              std::string(*value) + "'");
                    return std::nullopt;
                }
                options.timeoutMs = static_cast<int>(std::ceil(*seconds * 1000.0f));
            }
            continue;
        }
        if (allowSave && arg == "--save") {
            options.save = true;
            continue;
        }
        if (arg == "--trust-loopback") {
            options.trustLoopback = true;
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            Usage(io, command, "unknown option '" + std::string(arg) + "'");
            return std::nullopt;
        }
        options.words.push_back(arg);
    }
    return options;
}

// The options of a command that takes nothing besides --port and --timeout; empty, with the
// usage said, when there is more.
std::optional<LiveOptions> ParseOptionsOnly(const Arguments& args, std::string_view command,
                                            CommandIo& io) {
    auto options = ParseLiveOptions(args, command, false, io);
    if (options && !options->words.empty()) {
        Usage(io, command, "takes no arguments besides --port, --timeout and --trust-loopback");
        return std::nullopt;
    }
    return options;
}

// The table position of the record named "Object/Topic" (or "END"), from the table itself.
std::optional<int> RecordIndex(std::string_view name) {
    for (size_t i = 0; i < kTableRows.size(); ++i) {
        const TableRow& row = kTableRows[i];
        const bool match = row.kind == "END"
                               ? name == "END"
                               : name.size() == row.object.size() + 1 + row.topic.size() &&
                                     name.substr(0, row.object.size()) == row.object &&
                                     name[row.object.size()] == '/' &&
                                     name.substr(row.object.size() + 1) == row.topic;
        if (match) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

int UnknownRecord(CommandIo& io, std::string_view command, std::string_view name) {
    return Usage(io, command,
                 "no record '" + std::string(name) + "' (kvctl table lists them as OBJECT/TOPIC)");
}

Arguments TakeOwnOptions(const Arguments& args, const std::vector<std::string_view>& flags,
                         const std::vector<std::string_view>& valued,
                         std::vector<std::pair<std::string_view, std::string_view>>& found,
                         std::string& missing) {
    Arguments rest;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (std::find(flags.begin(), flags.end(), arg) != flags.end()) {
            found.emplace_back(arg, std::string_view());
            continue;
        }
        bool taken = false;
        for (const std::string_view name : valued) {
            if (arg == name) {
                if (i + 1 >= args.size()) {
                    missing = std::string(name);
                    return rest;
                }
                found.emplace_back(name, args[++i]);
                taken = true;
            } else if (arg.size() > name.size() + 1 && arg.substr(0, name.size()) == name &&
                       arg[name.size()] == '=') {
                found.emplace_back(name, arg.substr(name.size() + 1));
                taken = true;
            }
        }
        if (!taken) {
            rest.push_back(arg);
        }
    }
    return rest;
}

}  // namespace kv::kvctl
