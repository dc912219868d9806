// The pieces a scenario line is read with, shared by the event lines (scenario_events.cpp),
// the setting lines (scenario_settings.cpp) and the whole file (scenario.cpp).
#pragma once

#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/posix_file.h"
#include "driver/sim/scenario.h"

namespace kv::sim::parsing {

constexpr int kMaxFinger = 15;
constexpr int64_t kMaxElectrode = 255;  // the board renders up to 256 electrodes an axis

// The words of a line, split at blanks and tabs.
std::vector<std::string_view> Words(std::string_view line);
bool ToDouble(std::string_view word, double& value);
bool ToInt(std::string_view word, int64_t& value);
// A word in single quotes, for error texts.
std::string Quoted(std::string_view word);
// A scenario line without its comment and its carriage return.
std::string_view StripLine(std::string_view line);

// Collects the first error; every check after that is a no-op.
class LineParser {
public:
    LineParser(ScenarioError& error, int line) : error_(error), line_(line) {}

    bool Failed() const { return failed_; }
    int Line() const { return line_; }
    bool Fail(const std::string& message) {
        if (!failed_) {
            failed_ = true;
            error_.line = line_;
            error_.message = Printable(message);
        }
        return false;
    }
    bool Number(std::string_view word, const char* what, double low, double high, double& out) {
        if (failed_) {
            return false;
        }
        if (!ToDouble(word, out)) {
            return Fail(std::string(what) + " is not a number: '" + std::string(word) + "'");
        }
        return InRange(word, what, low, high, out);
    }
    bool Integer(std::string_view word, const char* what, int64_t low, int64_t high, int64_t& out) {
        if (failed_) {
            return false;
        }
        if (!ToInt(word, out)) {
            return Fail(std::string(what) + " is not a whole number: '" + std::string(word) + "'");
        }
        return InRange(word, what, low, high, out);
    }

private:
    template <class T>
    bool InRange(std::string_view word, const char* what, T low, T high, T value) {
        if (value < low || value > high) {
            std::ostringstream text;
            text << what << " " << word << " is outside " << low << " to " << high;
            return Fail(text.str());
        }
        return true;
    }

    ScenarioError& error_;
    int line_;
    bool failed_ = false;
};

struct FingerUse {
    bool present = false;
};

using Fingers = std::array<FingerUse, kMaxFinger + 1>;

// An "at time verb ..." line into event, against the fingers on the foil (which it updates);
// errors go to p. ended: whether an "end" came, on this line or before.
bool ParseAt(const std::vector<std::string_view>& w, LineParser& p, ScenarioEvent& event,
             double lastTime, Fingers& fingers, bool& ended);

// A setting line ("rate 500", "loop", "profile lorentz", ...) into the scenario; errors go to p.
// seen: the settings given so far that may be given once.
void ParseSetting(const std::vector<std::string_view>& w, LineParser& p, Scenario& scenario,
                  std::vector<std::string_view>& seen);
// Electrodes named by dead and noisy lines that the scenario's own layout does not have.
bool CheckFaultsOnLayout(const Scenario& scenario, ScenarioError& error);

}  // namespace kv::sim::parsing
