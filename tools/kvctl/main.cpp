// kvctl, the wire tool: the command table and its help. The commands live in kvctl_core;
// this file adds what they need from the process: the UDP link, the clock, the signals.
#include <csignal>
#include <iostream>
#include <string_view>

#include "tools/kvctl/commands.h"
#include "tools/kvctl/live_commands.h"

namespace {

using kv::kvctl::Arguments;
using kv::kvctl::CommandIo;

volatile std::sig_atomic_t stopSignal = 0;

void OnStopSignal(int) {
    stopSignal = 1;
}

// SIGINT and SIGTERM end monitor cleanly; without SA_RESTART they also cut its wait short.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

const kv::kvctl::LiveEnvironment& Live() {
    static const kv::kvctl::LiveEnvironment environment{kv::kvctl::OpenUdpLink, kv::DefaultClock(),
                                                        [] { return stopSignal != 0; }};
    return environment;
}

// Only monitor runs until asked to stop; Ctrl-C simply ends the short-lived commands.
template <int (*Run)(const Arguments&, CommandIo&, const kv::kvctl::LiveEnvironment&),
          bool kUntilStopped = false>
int RunLive(const Arguments& args, CommandIo& io) {
    if constexpr (kUntilStopped) {
        CatchStopSignals();
    }
    return Run(args, io, Live());
}

constexpr std::string_view kLiveOptions =
    "    --port N       the driver's UDP port (default 11249)\n"
    "    --timeout S    seconds to wait for the driver's answer (default 3; fractions allowed)\n"
    "    --trust-loopback  talk to the program on the driver's port whichever local user\n"
    "                   runs it (by default only your own and root's are answered)\n";

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
    {"status", "kvctl status [--port N] [--timeout S]",
     "  Says hello to the running Driver (kvctl uses a port of its own, so a Controller may\n"
     "  run beside it), collects the driver's answer with all 38 records and prints each\n"
     "  record, in table order, as the JSON object kvctl decode prints, one per line.\n"
     "  Exit status 1 with \"driver not answering on 127.0.0.1:PORT\" on stderr when nothing\n"
     "  answers within the time-out.\n",
     RunLive<kv::kvctl::RunStatus>},
    {"get", "kvctl get OBJECT/TOPIC [--port N] [--timeout S]",
     "  The same for one record, e.g. kvctl get Sense/State.\n", RunLive<kv::kvctl::RunGet>},
    {"set", "kvctl set OBJECT/TOPIC FIELD=VALUE... [--save] [--port N] [--timeout S]",
     "  Takes the driver's current record, changes the named fields (names and values as for\n"
     "  kvctl encode) and sends it back; --save then asks the driver to write DRIVER.INI\n"
     "  (Store/DoSave). An unknown record or field, a value that is not of the field's\n"
     "  type, a value out of the range the driver takes, or a record the driver keeps to\n"
     "  itself (its state, its calibration references) is an error (exit status 2) and\n"
     "  nothing is sent.\n"
     "  Example: kvctl set Output/State Enable=1 --save\n",
     RunLive<kv::kvctl::RunSet>},
    {"save", "kvctl save [--port N] [--timeout S]",
     "  Asks the driver to write its settings to DRIVER.INI (the counted event Store/DoSave,\n"
     "  a quarter of the sequence range above the driver's current sequence number, so that\n"
     "  it never matches a Controller's next request), and waits for the driver's word on it\n"
     "  (Store/State, set when the save failed): exit status 1 when the save failed or was\n"
     "  not confirmed within 10 s. set --save and import wait the same way.\n",
     RunLive<kv::kvctl::RunSave>},
    {"load", "kvctl load [--port N] [--timeout S]",
     "  Asks the driver to read DRIVER.INI again (Store/DoLoad).\n", RunLive<kv::kvctl::RunLoad>},
    {"stop", "kvctl stop [--port N] [--timeout S]",
     "  Asks the driver to end (Driver/DoStop); it does so after its next sensor frame.\n"
     "  Returns once the driver has ended (its port refuses datagrams); exit status 1\n"
     "  when it is still running after 10 s (or --timeout, if longer).\n",
     RunLive<kv::kvctl::RunStop>},
    {"monitor", "kvctl monitor [--port N] [--timeout S]",
     "  Stays with the driver (sending the presence record Client/client every 2 s, as the\n"
     "  Controller does) and prints a line per change until Ctrl-C (SIGINT or SIGTERM, exit\n"
     "  status 0):\n"
     "    link connected=yes|no status=N     sensor link (Comms/ActStatus)\n"
     "    frames per-period=N                frames in the driver's last two-second period\n"
     "    signal value=N                     signal level (Sense/Status), rounded, when it\n"
     "                                       moves by 2 or more, at most 4 times a second\n"
     "    touch engine=E primary=S x=X y=Y secondary=S x=X y=Y [wheel=W] [right-click]\n"
     "                                       each new pointer report (Monitor/Queue); state\n"
     "                                       0 none, 1 near, 2 touching; x, y from 0 to 1\n"
     "  and notes when the driver answers, has not answered yet, or falls silent.\n",
     RunLive<kv::kvctl::RunMonitor, true>},
    {"export", "kvctl export FILE|- [--with-calibration] [--port N] [--timeout S]",
     "  Writes the running driver's tuning to FILE as a commented INI file (- for standard\n"
     "  output). An existing file is replaced in one step and keeps its mode and owner (a link\n"
     "  to it stays a link); a new one follows the umask; a device, a FIFO or a descriptor\n"
     "  such as /dev/stdout is written through; a folder or a link to nothing is refused.\n"
     "  It has one [Object/Topic] section per record, one Field = value line per setting:\n"
     "  the sensor layout, sensitivity and thresholds, edge enhancement, touch and click\n"
     "  mode, pointer outputs, damping and the touch region.\n"
     "  The calibration belongs to one mounting; --with-calibration adds it.\n",
     RunLive<kv::kvctl::RunExport>},
    {"import", "kvctl import FILE [--dry-run] [--settings FILE] [--port N] [--timeout S]",
     "  Gives the running driver the settings of a file kvctl export wrote. Every value is\n"
     "  checked first against the ranges the driver takes; the first bad line is named\n"
     "  (FILE:LINE) and nothing is changed. Then the records go in a safe order (the layout\n"
     "  before the channel count), the driver saves them, and kvctl reads them back to\n"
     "  confirm. A calibration in the file goes into DRIVER.INI (--settings FILE, as for\n"
     "  kvctl calibration reset), which the driver reads again first. --dry-run prints what\n"
     "  would change and changes nothing.\n",
     RunLive<kv::kvctl::RunImport>},
    {"calibration", "kvctl calibration reset [--settings FILE] [--port N] [--timeout S]",
     "  Puts the identity calibration in force and keeps it: each touch lands where the\n"
     "  finger is on an unrotated screen, as before the first calibration. For a foil whose\n"
     "  calibration keeps its own buttons out of reach; works over ssh. The driver takes no\n"
     "  calibration from other programs, so kvctl rewrites only the calibration keys of its\n"
     "  DRIVER.INI (every other line stays) and asks it to read the file again, then waits\n"
     "  until the driver shows the new calibration. FILE is that DRIVER.INI; by default the\n"
     "  one the driver installed beside kvctl keeps.\n",
     RunLive<kv::kvctl::RunCalibration>},
    {"health", "kvctl health [--json] [--min-fps N] [--port N] [--timeout S]",
     "  One line on the foil, for monitoring, and an exit status. The driver's receive thread\n"
     "  answers with its records as they are, even when its main loop has stopped, so kvctl\n"
     "  watches what the loop sends after that answer: its heartbeat (every 2 s) must take a\n"
     "  new number and, with a board, frames must arrive (a signal level each), within 6 s.\n"
     "    0  the driver answers, the board is connected at its frame rate and the quietest\n"
     "       signal level in 2.5 s of watching is below the press threshold\n"
     "    1  no driver answers\n"
     "    2  the driver answers, but no sensor board is connected\n"
     "    3  the board is connected, but below N frames a second (--min-fps, default 50) or\n"
     "       with a signal level that reaches the press threshold untouched (noise)\n"
     "    4  the driver answers, but its main loop is stuck: no heartbeat (or, with a board,\n"
     "       no frame) while watched; its records are the last it left\n"
     "  --json prints one JSON object instead: status, state (ok, no-driver, no-board,\n"
     "  out-of-range, stuck), message, driver, peer, and with a driver fresh, heartbeat_moved,\n"
     "  frames_heard, watched_seconds, board, frames_per_second, signal_level (these three\n"
     "  null when not fresh), press_threshold, touch_mode, output_enabled and version.\n",
     RunLive<kv::kvctl::RunHealth>},
    {"metrics", "kvctl metrics [--textfile DIR] [--port N] [--timeout S]",
     "  The foil's state in the Prometheus text format, judged as kvctl health judges it:\n"
     "  kelvarin_driver_up (1: the driver answers and its main loop runs), and with a driver\n"
     "  kelvarin_driver_stale (1: it answers with records its stuck loop no longer updates)\n"
     "  and kelvarin_driver_info{version}; unless stale also kelvarin_board_connected,\n"
     "  kelvarin_frames_per_second, kelvarin_signal_level (the quietest in 2.5 s),\n"
     "  kelvarin_press_threshold, kelvarin_touch_mode and kelvarin_output_enabled.\n"
     "  --textfile DIR replaces DIR/kelvarin.prom in one step, for node-exporter's textfile\n"
     "  collector, instead of printing (a link there is replaced, never followed; temporary\n"
     "  files that killed runs left are removed).\n",
     RunLive<kv::kvctl::RunMetrics>},
    {"map-output", "kvctl map-output OUTPUT [--apply]",
     "  Prints, for each Wayland compositor that can be told, the setting that ties the\n"
     "  driver's touchscreen and absolute pointer to one output (a connector name such as\n"
     "  HDMI-A-1, as the compositor lists its outputs), and the file it goes in. Where a\n"
     "  compositor maps only the touchscreen, its heading says so. --apply ties both\n"
     "  devices at once in the running sway (through $SWAYSOCK; until sway restarts, so\n"
     "  keep the lines in its config too); OUTPUT * spreads them over all outputs again.\n",
     kv::kvctl::RunMapOutput},
};

bool IsLive(const Command& command) {
    return command.synopsis.find("--timeout") != std::string_view::npos;
}

void PrintCommandHelp(const Command& command, std::ostream& out) {
    out << command.synopsis << "\n" << command.help;
    if (IsLive(command)) {
        out << kLiveOptions;
    }
}

void PrintHelp(std::ostream& out) {
    out << "kvctl: the wire tool of the record protocol between Driver and Controller.\n"
           "table, encode and decode turn records into bytes and back without either program;\n"
           "status, get, set, save, load, stop and monitor talk to a running Driver over\n"
           "loopback UDP.\n\n";
    for (const Command& command : kCommands) {
        out << command.synopsis << "\n" << command.help << '\n';
    }
    out << "Options of the live commands:\n" << kLiveOptions << '\n';
    out << "kvctl --help     this text; kvctl COMMAND --help: one command.\n"
           "kvctl --version  the version.\n"
           "Exit status: 0 on success, 2 on a usage error or a frame that did not decode,\n"
           "1 when what was asked could not be done: no driver answers, a file cannot be read\n"
           "or written, sway did not take a mapping, the driver did not save. kvctl health has\n"
           "statuses of its own (see kvctl health --help).\n";
}

}  // namespace

int main(int argc, char** argv) {
    // A driver that has gone makes a send fail, not end kvctl.
    std::signal(SIGPIPE, SIG_IGN);
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
    if (name == "--version") {
        std::cout << "kvctl " KV_VERSION "\n";
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
