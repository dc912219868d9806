// kvctl, the wire tool: the command table and its help. The commands live in kvctl_core.
#include <iostream>
#include <string_view>

#include "tools/kvctl/commands.h"

namespace {

using kv::kvctl::Arguments;
using kv::kvctl::CommandIo;

struct Command {
    std::string_view name;
    std::string_view synopsis;
    std::string_view help;
    int (*run)(const Arguments&, CommandIo&);
};

constexpr Command kCommands[] = {
    {"table", "kvctl table",
     "  The registration table both programs build, one entry per line, in table order:\n"
     "  number, address, kind, object, topic, class, payload size, tag, settable (1/0).\n"
     "  The end marker has no object or topic; they show as '-'.\n",
     kv::kvctl::RunTable},
    {"encode",
     "kvctl encode OBJECT/TOPIC|END|hello [--from driver|controller] [--valid N] [--seq N]\n"
     "             [--tag N] [FIELD=VALUE ...]",
     "  Prints the frame that Send would produce, as one line of lowercase hex. Fields not\n"
     "  given keep the record's construction values.\n"
     "    OBJECT/TOPIC   a record of the table, e.g. Comms/ReqState, Driver/DoStop\n"
     "    END            the end marker; hello: the 11-byte hello datagram\n"
     "    --from         the sender identifier: controller (1234, default) or driver (5555)\n"
     "    --valid N      the header's event valid word (1 raises an event)\n"
     "    --seq N        the header's sequence number\n"
     "    --tag N        the header's tag; for Monitor/Queue the entry index it sends\n"
     "    FIELD=VALUE    a field by its catalogue name (MuxSize, Split0, exclude_edge_flag,\n"
     "                   SA, StatusText, Present, ...); Values[i] for Graph values and\n"
     "                   Lines[i] for Copyright lines (0-based). Integers decimal or 0x-hex,\n"
     "                   reals decimal, flags true/false or 1/0, a character one byte, texts\n"
     "                   as given (cut to the field's width, with a note on stderr).\n"
     "  Example: kvctl encode Comms/ReqState MuxSize=40\n",
     kv::kvctl::RunEncode},
    {"decode", "kvctl decode HEX...\nkvctl decode -",
     "  Cuts each datagram (HEX, or one datagram of hex per line of standard input with -)\n"
     "  into frames as the receiver does, and prints one JSON object per frame:\n"
     "    command (\"record\" or \"hello\"), sender, length; for record frames also address,\n"
     "    record (\"Object/Topic\" at that address, or \"END\"), kind, object, topic,\n"
     "    payload_size, tag, settable, event_valid, sequence, spare, parsed (what Parse\n"
     "    returned) and fields (by catalogue name, \"size\" first; null when Parse stopped\n"
     "    before the payload).\n"
     "  Each frame is parsed as a receiver does on a fresh registry: data missing at the end\n"
     "  reads as zeros. A frame the receiver drops (unknown address, bad length, unknown\n"
     "  command), bytes left over and bytes dropped from an oversized datagram print\n"
     "  {\"error\": \"...\"}. Reals that are not finite print as null; texts are JSON-escaped.\n"
     "  Each datagram is cut on its own. Exit status 0 when every frame decoded, else 2.\n",
     kv::kvctl::RunDecode},
};

void PrintCommandHelp(const Command& command, std::ostream& out) {
    out << command.synopsis << "\n" << command.help;
}

void PrintHelp(std::ostream& out) {
    out << "kvctl: the wire tool of the record protocol between Driver and Controller.\n"
           "It turns records into bytes and back without running either program.\n\n";
    for (const Command& command : kCommands) {
        PrintCommandHelp(command, out);
        out << '\n';
    }
    out << "kvctl --help     this text; kvctl COMMAND --help: one command.\n"
           "Exit status: 0 on success, 2 on a usage error or a frame that did not decode.\n";
}

}  // namespace

int main(int argc, char** argv) {
    const Arguments all(argv + 1, argv + argc);
    if (all.empty()) {
        PrintHelp(std::cerr);
        return kv::kvctl::kExitFailure;
    }
    const std::string_view name = all[0];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintHelp(std::cout);
        return kv::kvctl::kExitOk;
    }
    for (const Command& command : kCommands) {
        if (command.name != name) {
            continue;
        }
        const Arguments args(all.begin() + 1, all.end());
        for (const std::string_view arg : args) {
            if (arg == "--help" || arg == "-h") {
                PrintCommandHelp(command, std::cout);
                return kv::kvctl::kExitOk;
            }
        }
        CommandIo io{std::cin, std::cout, std::cerr};
        return command.run(args, io);
    }
    std::cerr << "kvctl: unknown command '" << name << "' (see kvctl --help)\n";
    return kv::kvctl::kExitFailure;
}
