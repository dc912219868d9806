// Parsing the Driver's command line.
#include "driver/app/driver_options.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "common/command_line.h"
#include "common/file_locations.h"
#include "driver/settings/settings_file.h"

namespace kv {

namespace {

// Applies a value; returns an empty string or what is wrong with the value.
using Apply = std::string (*)(DriverOptions& options, std::string_view value);

struct OptionRow {
    std::string_view name;   // without the leading "--"
    std::string_view value;  // the value's placeholder in the usage; empty: a flag
    std::string_view help;
    Apply apply;                 // null for --help and --version
    bool optionalValue = false;  // "--name" alone is allowed, "--name value" is not taken
};

std::string ParsePort(std::string_view text, uint16_t& port) {
    const auto value = kv::ParsePort(text);
    if (!value) {
        return "not a UDP port: '" + std::string(text) + "'";
    }
    port = *value;
    return {};
}

std::string ParsePid(std::string_view text, int& pid) {
    const auto value = ParseDecimal<int>(text);
    if (!value || *value <= 0) {
        return "not a process id: '" + std::string(text) + "'";
    }
    pid = *value;
    return {};
}

// WIDTHxHEIGHT in whole millimetres, each 1..100000.
std::string ParseScreenMm(std::string_view text, std::optional<ScreenMillimetres>& size) {
    const size_t x = text.find('x');
    const auto width = ParseDecimal<int32_t>(text.substr(0, x));
    const auto height =
        x == std::string_view::npos ? std::nullopt : ParseDecimal<int32_t>(text.substr(x + 1));
    constexpr int32_t kMaxMm = 100000;
    if (!width || !height || *width < 1 || *height < 1 || *width > kMaxMm || *height > kMaxMm) {
        return std::string("not WIDTHxHEIGHT in millimetres: '").append(text).append("'");
    }
    size = ScreenMillimetres{*width, *height};
    return {};
}

}  // namespace

std::string ParseTuioTarget(std::string_view text, TuioTarget& target) {
    // Messages are appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
    // "text" + std::string in an optimised build.
    const auto quoted = [](std::string_view what) {
        return std::string("'").append(what).append("'");
    };
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return quoted(text).append(" is not HOST:PORT");
    }
    const std::string_view host = text.substr(0, colon);
    if (host.empty()) {
        return quoted(text).append(" names no host");
    }
    if (host.find(':') != std::string_view::npos || host.front() == '[') {
        return quoted(host).append(" is not an IPv4 address or a host name");
    }
    // A DNS name is at most 253 characters; blanks and control characters are in none.
    constexpr size_t kMaxHostName = 253;
    const bool printable = std::all_of(host.begin(), host.end(), [](char c) {
        return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x7f;
    });
    if (host.size() > kMaxHostName || !printable) {
        return std::string("not a host name: ").append(quoted(host));
    }
    const auto port = kv::ParsePort(text.substr(colon + 1));
    if (!port || *port == 0) {
        return std::string("not a UDP port: ").append(quoted(text.substr(colon + 1)));
    }
    target.host = std::string(host);
    target.port = *port;
    return {};
}

namespace {

constexpr std::array<OptionRow, 17> kOptions = {{
    {"help", "", "show this help and exit", nullptr},
    {"version", "", "print the version and exit", nullptr},
    {"verbose", "",
     "describe link changes, settings reads and writes and received commands on stderr",
     [](DriverOptions& o, std::string_view) -> std::string {
         o.verbose = true;
         return {};
     }},
    {"port", "N", "UDP port to listen on (default 11249; 0: any free port)",
     [](DriverOptions& o, std::string_view v) { return ParsePort(v, o.port); }},
    {"peer-port", "N", "UDP port the controller listens on (default 11243)",
     [](DriverOptions& o, std::string_view v) { return ParsePort(v, o.peerPort); }},
    {"link", "hid|scripted",
     "where frames come from: the sensor board (default) or a built-in fake board",
     [](DriverOptions& o, std::string_view v) -> std::string {
         if (v == "hid") {
             o.link = LinkKind::Hid;
         } else if (v == "scripted") {
             o.link = LinkKind::Scripted;
         } else {
             return "unknown link '" + std::string(v) + "' (hid or scripted)";
         }
         return {};
     }},
    {"simulate", "SCENARIO",
     "run with the simulated foil: a scenario file, or idle (default) or demo; - (standard "
     "input) or a named pipe: an idle foil that event lines (down, move, up) touch as written",
     [](DriverOptions& o, std::string_view v) -> std::string {
         o.link = LinkKind::Simulated;
         o.scenario = v.empty() ? "idle" : std::string(v);
         return {};
     },
     true},
    {"simulate-input", "-|PIPE",
     "event lines (down, move, up) touching the simulated foil as they are written to standard "
     "input or a named pipe, on top of the --simulate scenario (idle by default)",
     [](DriverOptions& o, std::string_view v) -> std::string {
         o.link = LinkKind::Simulated;
         o.liveInput = std::string(v);
         return v.empty() ? "needs - or a named pipe" : std::string();
     }},
    {"replay", "FILE", "play a hid-recorder file back as the sensor board",
     [](DriverOptions& o, std::string_view v) -> std::string {
         o.link = LinkKind::Replay;
         o.replayPath = std::string(v);
         return v.empty() ? "needs a file" : std::string();
     }},
    {"replay-fast", "", "play --replay and --simulate frames as fast as they are read",
     [](DriverOptions& o, std::string_view) -> std::string {
         o.fast = true;
         return {};
     }},
    {"record", "FILE", "write every report the board sends to a hid-recorder file",
     [](DriverOptions& o, std::string_view v) -> std::string {
         o.recordPath = std::string(v);
         return v.empty() ? "needs a file" : std::string();
     }},
    {"pointer", "auto|uinput|xtest|none",
     "how touches reach the desktop (auto: uinput if writable, else XTest under X11)",
     [](DriverOptions& o, std::string_view v) -> std::string {
         if (v != "auto" && v != "uinput" && v != "xtest" && v != "none") {
             return "unknown pointer backend '" + std::string(v) + "' (auto, uinput, xtest, none)";
         }
         o.pointer = std::string(v);
         return {};
     }},
    {"stop-with", "PID", "stop, as on SIGTERM, when process PID ends",
     [](DriverOptions& o, std::string_view v) { return ParsePid(v, o.stopWithPid); }},
    {"trust-loopback", "",
     "take commands and settings from every local user's programs, not only from your own and "
     "root's (for systems that cannot tell who sends a datagram; any local user may then "
     "control this driver)",
     [](DriverOptions& o, std::string_view) -> std::string {
         o.trustLoopback = true;
         return {};
     }},
    {"screen-mm", "WIDTHxHEIGHT",
     "the size of the picture under the foil in millimetres, which the touchscreen and pointer "
     "report as their resolution (default: the X server's screen size, else 1218x685, a "
     "55-inch 16:9 screen)",
     [](DriverOptions& o, std::string_view v) { return ParseScreenMm(v, o.screenMm); }},
    {"touch", "classic|precise",
     "the touch path: classic, or precise, which keeps two fingers apart where they cross "
     "(default classic)",
     [](DriverOptions& o, std::string_view v) -> std::string {
         const std::optional<TouchPath> path = TouchPathOf(v);
         if (!path) {
             return "unknown touch path '" + std::string(v) + "' (classic, precise)";
         }
         o.touch = *path;
         return {};
     }},
    {"tuio", "HOST:PORT",
     "where the TUIO touch mode sends its cursors: an IPv4 address or a host name (looked up "
     "once, at start) and a UDP port (default 127.0.0.1:3333)",
     [](DriverOptions& o, std::string_view v) { return ParseTuioTarget(v, o.tuio); }},
}};

const OptionRow* FindOption(std::string_view name) {
    for (const OptionRow& row : kOptions) {
        if (row.name == name) {
            return &row;
        }
    }
    return nullptr;
}

ParsedOptions Failure(std::string message) {
    ParsedOptions parsed;
    parsed.action = OptionsAction::Fail;
    parsed.message = std::move(message);
    return parsed;
}

}  // namespace

ParsedOptions ParseDriverOptions(int argc, const char* const* argv) {
    ParsedOptions parsed;
    CommandLine words(argc, argv);
    while (!words.AtEnd()) {
        const OptionWord option = words.Next();
        if (const std::string_view word = words.Word(); word.substr(0, 2) != "--" || word == "--") {
            return Failure("unexpected argument '" + std::string(word) + "'");
        }
        const std::string_view name = option.name.substr(2);
        const OptionRow* row = FindOption(name);
        if (row == nullptr) {
            return Failure("unknown option '--" + std::string(name) + "'");
        }
        std::string_view value;
        if (row->value.empty()) {
            if (option.hasValue) {
                return Failure("option '--" + std::string(name) + "' takes no value");
            }
        } else if (option.hasValue || !row->optionalValue) {
            const auto given = words.ValueOf(option);
            if (!given) {
                return Failure("option '--" + std::string(name) + "' needs a value");
            }
            value = *given;
        }
        if (name == "help") {
            parsed.action = OptionsAction::Help;
            continue;
        }
        if (name == "version") {
            if (parsed.action != OptionsAction::Help) {
                parsed.action = OptionsAction::Version;
            }
            continue;
        }
        if (std::string error = row->apply(parsed.options, value); !error.empty()) {
            return Failure("--" + std::string(name) + ": " + error);
        }
    }
    return parsed;
}

namespace {

constexpr size_t kHelpColumn = 26;
constexpr size_t kHelpWidth = 80;

// Breaks an option's text between words so that no line passes kHelpWidth; lines after the
// first start at kHelpColumn.
std::string WrapHelp(std::string_view text) {
    std::string wrapped;
    size_t column = kHelpColumn;
    while (!text.empty()) {
        const size_t blank = text.find(' ');
        const std::string_view word = text.substr(0, blank);
        text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
        if (column > kHelpColumn && column + 1 + word.size() > kHelpWidth) {
            wrapped += "\n" + std::string(kHelpColumn, ' ');
            column = kHelpColumn;
        } else if (column > kHelpColumn) {
            wrapped += ' ';
            ++column;
        }
        wrapped += word;
        column += word.size();
    }
    return wrapped;
}

}  // namespace

std::string DriverUsage(const std::string& settingsPath) {
    std::string usage =
        "Usage: Driver [options]\n"
        "Reads the touch foil's sensor board and delivers touches; configured by the\n"
        "Controller.\n\nOptions:\n";
    for (const OptionRow& row : kOptions) {
        // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about "text" + std::string
        // when it inlines that insertion at the front in a Release build.
        std::string left = std::string("  --").append(row.name);
        if (row.optionalValue) {
            left.append("[=").append(row.value).append("]");
        } else if (!row.value.empty()) {
            left.append("=").append(row.value);
        }
        // At least two blanks between an option and its text (help2man reads them as the
        // border), and the text wrapped at 80 columns under its own column.
        if (left.size() + 2 <= kHelpColumn) {
            left.resize(kHelpColumn, ' ');
        } else {
            left += "\n" + std::string(kHelpColumn, ' ');
        }
        usage += left + WrapHelp(row.help) + "\n";
    }
    usage += "\nFiles:\n  " + SettingsRuleText(kSettingsFileName, "  ") +
             "\n  For this run: " + settingsPath + "\n";
    return usage;
}

}  // namespace kv
