// Parsing uhid-board's command line.
#include "tests/rigs/uhid-board/board_options.h"

#include <string_view>

#include "common/command_line.h"

namespace kv::uhidboard {

namespace {

// Seconds from 0 to a day; anything else is a mistake on the command line.
bool ToSeconds(std::string_view text, double& value) {
    const auto seconds = ParseDecimal<double>(text);
    value = seconds.value_or(value);
    return seconds && value >= 0.0 && value <= 86400.0;
}

}  // namespace

std::string BoardUsage() {
    return "Usage: uhid-board (--scenario=NAME|FILE | --recording=FILE) [options]\n"
           "Emulates the sensor board (2012:1001) through uhid and plays a scenario or a\n"
           "hid-recorder file as input reports at their pace.\n"
           "  --scenario=NAME|FILE  a scenario file or a built-in name (idle, demo); its\n"
           "                        unplug and replug lines destroy and recreate the device\n"
           "  --recording=FILE      a hid-recorder file, played with its own identity\n"
           "  --unplug-at=SECONDS   recordings: destroy the device at this time\n"
           "  --replug-at=SECONDS   recordings: create it again at this time\n"
           "  --wait-open[=SECONDS] start playing when a reader opens the device (default\n"
           "                        wait 60 s; fails when none comes)\n"
           "  --linger=SECONDS      keep the device this long after the end (default 0)\n"
           "  --uhid=PATH           the uhid node (default /dev/uhid)\n"
           "  --verbose             say on stderr when the device comes, goes and is opened\n"
           "  --help                this text\n"
           "SIGUSR1 unplugs the device at once, SIGUSR2 plugs it in again; the time line\n"
           "goes on meanwhile. SIGTERM and SIGINT end the program, removing the device.\n"
           "Exit status: 0 when everything was played, 1 when uhid failed, 2 on a usage error.\n";
}

ParsedBoardOptions ParseBoardOptions(int argc, const char* const* argv) {
    ParsedBoardOptions parsed;
    auto fail = [&parsed](const std::string& message) {
        parsed.action = BoardAction::Fail;
        parsed.message = message;
        return parsed;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const OptionWord option = SplitOption(argument);
        auto seconds = [&](double& out) { return option.hasValue && ToSeconds(option.value, out); };
        if (option.name == "--help" && !option.hasValue) {
            parsed.action = BoardAction::Help;
            return parsed;
        } else if (option.name == "--verbose" && !option.hasValue) {
            parsed.options.verbose = true;
        } else if (option.name == "--scenario" && option.hasValue && !option.value.empty()) {
            parsed.options.scenario = option.value;
        } else if (option.name == "--recording" && option.hasValue && !option.value.empty()) {
            parsed.options.recording = option.value;
        } else if (option.name == "--uhid" && option.hasValue && !option.value.empty()) {
            parsed.options.uhidPath = option.value;
        } else if (option.name == "--unplug-at") {
            if (!seconds(parsed.options.unplugAt)) {
                return fail("--unplug-at needs seconds from 0 to 86400");
            }
        } else if (option.name == "--replug-at") {
            if (!seconds(parsed.options.replugAt)) {
                return fail("--replug-at needs seconds from 0 to 86400");
            }
        } else if (option.name == "--linger") {
            if (!seconds(parsed.options.linger)) {
                return fail("--linger needs seconds from 0 to 86400");
            }
        } else if (option.name == "--wait-open") {
            parsed.options.waitOpen = 60.0;
            if (option.hasValue && !seconds(parsed.options.waitOpen)) {
                return fail("--wait-open takes seconds from 0 to 86400");
            }
        } else {
            return fail("unknown or malformed option '" + std::string(argument) + "'");
        }
    }
    const BoardOptions& o = parsed.options;
    if (o.scenario.empty() == o.recording.empty()) {
        return fail("give either --scenario or --recording");
    }
    if (!o.scenario.empty() && (o.unplugAt >= 0.0 || o.replugAt >= 0.0)) {
        return fail("scenarios unplug and replug with their own lines, not --unplug-at");
    }
    if (o.replugAt >= 0.0 && (o.unplugAt < 0.0 || o.replugAt < o.unplugAt)) {
        return fail("--replug-at needs an earlier --unplug-at");
    }
    return parsed;
}

}  // namespace kv::uhidboard
