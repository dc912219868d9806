// The setting lines of a scenario: its rate, layout, noise and the foil model.
#include <algorithm>

#include "driver/sim/scenario_parsing.h"
#include "protocol/sensor_layout.h"

namespace kv::sim::parsing {

namespace {

// "x" or "y" into 0 or 1.
bool Axis(std::string_view word, LineParser& p, int& axis) {
    if (word != "x" && word != "y") {
        return p.Fail("axis is not x or y: " + Quoted(word));
    }
    axis = word == "x" ? 0 : 1;
    return !p.Failed();
}

// The foil-model lines: how the foil differs from the ideal one the driver's interpolation
// assumes. Each may be given once, except "dead" and "noisy", which name one electrode each.
bool ParseFoilSetting(const std::vector<std::string_view>& w, LineParser& p, Scenario& scenario,
                      std::vector<std::string_view>& seen) {
    const std::string_view key = w[0];
    const bool perElectrode = key == "dead" || key == "noisy";
    if (key != "profile" && key != "gain" && key != "common" && key != "hum" && key != "rise" &&
        !perElectrode) {
        return false;
    }
    if (!perElectrode) {
        if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
            p.Fail(Quoted(key) + " can be given only once");
            return true;
        }
        seen.push_back(key);
    }
    auto values = [&](size_t count, const char* says) {
        if (w.size() != count + 1) {
            p.Fail(Quoted(key) + " takes " + says);
        }
        return !p.Failed();
    };
    if (key == "profile") {
        const bool finger = w.size() > 1 && w[1] == "finger";
        if (values(finger ? 3 : 1, "gaussian, lorentzian or finger SIZE GLASS")) {
            if (finger) {
                scenario.profile = ProfileShape::Contact;
                p.Number(w[2], "finger size", 0.1, 10.0, scenario.contact);
                p.Number(w[3], "glass", 0.01, 5.0, scenario.glass);
            } else if (w[1] == "gaussian" || w[1] == "lorentzian") {
                scenario.profile =
                    w[1] == "gaussian" ? ProfileShape::Gaussian : ProfileShape::Lorentzian;
            } else {
                p.Fail("unknown profile " + Quoted(w[1]));
            }
        }
    } else if (key == "gain") {
        if (values(1, "one value from 0 to 0.5")) {
            p.Number(w[1], "gain", 0.0, 0.5, scenario.gainSpread);
        }
    } else if (key == "common") {
        if (values(1, "one value from 0 to 50")) {
            p.Number(w[1], "common", 0.0, 50.0, scenario.common);
        }
    } else if (key == "hum") {
        if (values(2, "an amplitude and a frequency")) {
            p.Number(w[1], "hum", 0.0, 50.0, scenario.humAmplitude);
            p.Number(w[2], "hum frequency", 1.0, 1000.0, scenario.humHz);
        }
    } else if (key == "rise") {
        if (values(1, "one value from -100 to 100")) {
            p.Number(w[1], "rise", -100.0, 100.0, scenario.rise);
        }
    } else {
        const bool dead = key == "dead";
        ElectrodeFault fault;
        int64_t index = 0;
        if (values(dead ? 2 : 3,
                   dead ? "an axis and an electrode" : "an axis, an electrode and a noise") &&
            Axis(w[1], p, fault.axis) && p.Integer(w[2], "electrode", 0, kMaxElectrode, index) &&
            (dead || p.Number(w[3], "noise", 0.0, 50.0, fault.sigma))) {
            fault.index = static_cast<int32_t>(index);
            fault.line = p.Line();
            (dead ? scenario.dead : scenario.noisy).push_back(fault);
        }
    }
    return true;
}

}  // namespace

bool CheckFaultsOnLayout(const Scenario& scenario, ScenarioError& error) {
    const auto layout = LayoutForModel(scenario.layout);
    if (!layout) {
        return true;  // the layout comes later, from the driver: the board ignores them then
    }
    for (const auto* faults : {&scenario.dead, &scenario.noisy}) {
        for (const ElectrodeFault& fault : *faults) {
            const int32_t count = fault.axis == 0 ? layout->CountX() : layout->CountY();
            if (fault.index >= count) {
                const char* axis = fault.axis == 0 ? "x" : "y";
                error.line = fault.line;
                error.message = "electrode " + std::string(axis) + " " +
                                std::to_string(fault.index) + " is not on " + scenario.layout +
                                " (" + std::to_string(count) + " " + axis + " electrodes)";
                return false;
            }
        }
    }
    return true;
}

void ParseSetting(const std::vector<std::string_view>& w, LineParser& p, Scenario& scenario,
                  std::vector<std::string_view>& seen) {
    const std::string_view key = w[0];
    auto single = [&]() {
        if (w.size() != 2) {
            p.Fail(Quoted(key) + " takes one value");
        }
        return !p.Failed();
    };
    if (ParseFoilSetting(w, p, scenario, seen)) {
        return;
    }
    if (key == "rate") {
        if (single()) {
            p.Number(w[1], "rate", 1.0, 2000.0, scenario.rate);
        }
    } else if (key == "layout") {
        if (single()) {
            if (!LayoutForModel(w[1])) {
                p.Fail("unknown sensor model '" + std::string(w[1]) + "'");
            }
            scenario.layout = std::string(w[1]);
        }
    } else if (key == "noise") {
        if (single()) {
            p.Number(w[1], "noise", 0.0, 50.0, scenario.noise);
        }
    } else if (key == "seed") {
        int64_t seed = 0;
        if (single() && p.Integer(w[1], "seed", 0, UINT32_MAX, seed)) {
            scenario.seed = static_cast<uint32_t>(seed);
        }
    } else if (key == "width") {
        if (single()) {
            p.Number(w[1], "width", 0.05, 10.0, scenario.width);
        }
    } else if (key == "drift") {
        if (single()) {
            p.Number(w[1], "drift", 0.0, 100.0, scenario.drift);
        }
    } else if (key == "baseline") {
        if (w.size() != 2 && w.size() != 3) {
            p.Fail("'baseline' takes one or two values");
        } else {
            p.Number(w[1], "baseline", 0.0, 255.0, scenario.baseLow);
            scenario.baseHigh = scenario.baseLow;
            if (w.size() == 3) {
                p.Number(w[2], "baseline", scenario.baseLow, 255.0, scenario.baseHigh);
            }
        }
    } else if (key == "loop") {
        if (w.size() != 1) {
            p.Fail("'loop' takes no value");
        }
        scenario.loop = true;
    } else {
        p.Fail("unknown keyword '" + std::string(key) + "'");
    }
}

}  // namespace kv::sim::parsing
