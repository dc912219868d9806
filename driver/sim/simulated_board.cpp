// The simulated foil and board.
#include "driver/sim/simulated_board.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <utility>

namespace kv::sim {

namespace {
constexpr double kPi = 3.14159265358979323846;

// The foil model's generator is seeded apart from the one of rest counts, drift and noise.
constexpr uint32_t kFoilModelSeed = 0x5bd1e995u;

// The farthest lateral distance a finger profile is asked for: across every electrode.
constexpr double kMaxDistance = kMaxSamples;

// A round contact of radius r, its centre at lateral distance d from a line electrode, under a
// cover of thickness h: each point of the disc couples with 2h / (h^2 + x^2), so the disc
// gives the integral over u in [-r, r] of sqrt(r^2 - u^2) / (h^2 + (d - u)^2) (chord length
// times kernel). With z = d - ih that is Im(pi (z - sqrt(z^2 - r^2))) / h, the transform of
// the semicircle; written as r^2 / (z + sqrt(z - r) sqrt(z + r)) it keeps its precision far
// away, where the two terms nearly cancel.
double ContactCoupling(double d, double r, double h) {
    const std::complex<double> z(d, -h);
    const std::complex<double> w = std::sqrt(z - r) * std::sqrt(z + r);
    return kPi * std::imag(r * r / (z + w)) / h;
}
}  // namespace

FrameReports PackFrame(int32_t muxSize, const uint8_t* samples) {
    FrameReports out;
    if (muxSize >= 16 && muxSize <= 39) {
        // 40 channel bytes with the active ones centred.
        const int32_t offset = (40 - muxSize) / 2;
        for (int32_t i = 0; i < muxSize; ++i) {
            out.reports[0][static_cast<size_t>(1 + offset + i)] = samples[i];
        }
        out.count = 1;
    } else if (muxSize >= 40 && muxSize <= 64) {
        for (int32_t i = 0; i < muxSize; ++i) {
            out.reports[0][static_cast<size_t>(1 + i)] = samples[i];
        }
        out.count = 1;
    } else if (muxSize == 128) {
        // A sync report, then two data reports that the driver joins and reverses: byte b of
        // the first report becomes sample 128 - b, byte b of the second sample 64 - b.
        for (int32_t b = 1; b <= 64; ++b) {
            out.reports[0][static_cast<size_t>(b)] = static_cast<uint8_t>(b);
            out.reports[1][static_cast<size_t>(b)] = samples[128 - b];
            out.reports[2][static_cast<size_t>(b)] = samples[64 - b];
        }
        out.count = 3;
    }
    return out;
}

SimulatedBoard::SimulatedBoard(const Scenario& scenario)
    : scenario_(scenario), random_(scenario.seed) {
    if (auto layout = LayoutForModel(scenario_.layout)) {
        ownLayout_ = true;
        layout_ = *layout;
    }
    std::uniform_real_distribution<double> rest(scenario_.baseLow, scenario_.baseHigh);
    std::uniform_real_distribution<double> period(60.0, 180.0);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * kPi);
    for (int32_t k = 0; k < kMaxSamples; ++k) {
        restX_[static_cast<size_t>(k)] = rest(random_);
        restY_[static_cast<size_t>(k)] = rest(random_);
        driftPeriodX_[static_cast<size_t>(k)] = period(random_);
        driftPeriodY_[static_cast<size_t>(k)] = period(random_);
        driftPhaseX_[static_cast<size_t>(k)] = phase(random_);
        driftPhaseY_[static_cast<size_t>(k)] = phase(random_);
    }
    extra_.seed(scenario_.seed ^ kFoilModelSeed);
    for (auto& gains : gain_) {
        gains.fill(1.0);
    }
    if (scenario_.gainSpread > 0.0) {
        std::uniform_real_distribution<double> gain(1.0 - scenario_.gainSpread,
                                                    1.0 + scenario_.gainSpread);
        for (auto& gains : gain_) {
            for (double& g : gains) {
                g = gain(extra_);
            }
        }
    }
    if (scenario_.rise != 0.0) {
        std::uniform_real_distribution<double> factor(0.5, 1.5);
        for (auto& factors : riseFactor_) {
            for (double& f : factors) {
                f = factor(extra_);
            }
        }
    }
    if (scenario_.humAmplitude > 0.0) {
        for (double& p : humPhase_) {
            p = phase(extra_);
        }
    }
    for (const ElectrodeFault& fault : scenario_.dead) {
        if (fault.axis >= 0 && fault.axis < 2 && fault.index >= 0 && fault.index < kMaxSamples) {
            dead_[static_cast<size_t>(fault.axis)][static_cast<size_t>(fault.index)] = true;
        }
    }
    for (const ElectrodeFault& fault : scenario_.noisy) {
        if (fault.axis >= 0 && fault.axis < 2 && fault.index >= 0 && fault.index < kMaxSamples) {
            // Independent noises of one electrode add in power.
            double& sigma =
                extraSigma_[static_cast<size_t>(fault.axis)][static_cast<size_t>(fault.index)];
            sigma = std::sqrt(sigma * sigma + fault.sigma * fault.sigma);
        }
    }
    if (scenario_.profile == ProfileShape::Contact) {
        contactValues_.assign(contactTables_.size() * kContactSteps, 0.0);
        MakeContactTable(0, scenario_.contact);
    }
}

void SimulatedBoard::MakeContactTable(size_t slot, double size) {
    ContactTable& table = contactTables_[slot];
    const double r = size / 2.0;
    const double h = scenario_.glass;
    table.size = size;
    table.edge = r;
    table.scale = 0.25 * std::min(r, h);
    table.start = -std::asinh(r / table.scale);
    table.step = (std::asinh((kMaxDistance - r) / table.scale) - table.start) / (kContactSteps - 1);
    const double centre = ContactCoupling(0.0, r, h);
    double* values = contactValues_.data() + slot * kContactSteps;
    for (size_t i = 0; i < kContactSteps; ++i) {
        const double s = table.start + static_cast<double>(i) * table.step;
        const double d = i == 0 ? 0.0 : std::max(0.0, r + table.scale * std::sinh(s));
        values[i] = ContactCoupling(d, r, h) / centre;
    }
}

void SimulatedBoard::SetLayout(const SensorLayout& layout) {
    if (!ownLayout_) {
        layout_ = layout;
    }
}

double SimulatedBoard::Finger::X(double t) const {
    if (moveDuration <= 0.0 || t >= moveStart + moveDuration) {
        return toX;
    }
    const double f = std::max(0.0, (t - moveStart) / moveDuration);
    return fromX + (toX - fromX) * f;
}

double SimulatedBoard::Finger::Y(double t) const {
    if (moveDuration <= 0.0 || t >= moveStart + moveDuration) {
        return toY;
    }
    const double f = std::max(0.0, (t - moveStart) / moveDuration);
    return fromY + (toY - fromY) * f;
}

double SimulatedBoard::TakeStall() {
    return std::exchange(stall_, 0.0);
}

void SimulatedBoard::Restart() {
    fingers_ = {};
    nextEvent_ = 0;
    attached_ = true;
    ended_ = false;
}

void SimulatedBoard::Apply(const ScenarioEvent& event) {
    Finger& finger = fingers_[static_cast<size_t>(event.finger % kFingers)];
    const double local = event.time;
    switch (event.verb) {
        case ScenarioEvent::Verb::Down:
        case ScenarioEvent::Verb::Hover:
            finger.present = true;
            finger.strength = event.strength;
            finger.fromX = finger.toX = event.x;
            finger.fromY = finger.toY = event.y;
            finger.moveDuration = 0.0;
            finger.size = event.size;
            finger.table = 0;
            if (scenario_.profile == ProfileShape::Contact && event.size > 0.0) {
                const size_t slot = 1 + static_cast<size_t>(event.finger % kFingers);
                if (contactTables_[slot].size != event.size) {
                    MakeContactTable(slot, event.size);
                }
                finger.table = slot;
            }
            break;
        case ScenarioEvent::Verb::Move:
            finger.fromX = finger.X(local);
            finger.fromY = finger.Y(local);
            finger.toX = event.x;
            finger.toY = event.y;
            finger.moveStart = local;
            finger.moveDuration = event.duration;
            break;
        case ScenarioEvent::Verb::Up:
            finger.present = false;
            break;
        case ScenarioEvent::Verb::Unplug:
            attached_ = false;
            break;
        case ScenarioEvent::Verb::Replug:
            attached_ = true;
            break;
        case ScenarioEvent::Verb::Stall:
            stall_ += event.duration;
            break;
        case ScenarioEvent::Verb::End:
            // The board stays attached and idle.
            fingers_ = {};
            attached_ = true;
            ended_ = true;
            break;
    }
}

bool SimulatedBoard::AdvanceTo(double t) {
    now_ = std::max(now_, t);
    const double length = scenario_.Length();
    double local = now_ - loopBase_;
    if (scenario_.loop && length > 0.0 && local >= length) {
        // Start again from time 0.
        const double passes = std::floor(local / length);
        loopBase_ += passes * length;
        local = now_ - loopBase_;
        Restart();
    }
    while (nextEvent_ < scenario_.events.size() && scenario_.events[nextEvent_].time <= local) {
        Apply(scenario_.events[nextEvent_++]);
    }
    return attached_;
}

void SimulatedBoard::ApplyNow(ScenarioEvent event) {
    event.time = now_ - loopBase_;  // moves start from where the finger is now
    Apply(event);
}

double SimulatedBoard::Profile(const Finger& finger, double distance) const {
    if (scenario_.profile == ProfileShape::Contact) {
        const ContactTable& table = contactTables_[finger.table];
        const double s =
            (std::asinh((std::abs(distance) - table.edge) / table.scale) - table.start) /
            table.step;
        const auto i = std::min(static_cast<size_t>(std::max(s, 0.0)), kContactSteps - 2);
        const double f = std::clamp(s - static_cast<double>(i), 0.0, 1.0);
        const double* values = contactValues_.data() + finger.table * kContactSteps;
        return values[i] + (values[i + 1] - values[i]) * f;
    }
    const double u = distance / (finger.size > 0.0 ? finger.size : scenario_.width);
    if (scenario_.profile == ProfileShape::Lorentzian) {
        return 1.0 / (1.0 + u * u);
    }
    return std::exp(-0.5 * u * u);
}

double SimulatedBoard::Level(int axis, int32_t k) const {
    const double local = now_ - loopBase_;
    const auto i = static_cast<size_t>(k);
    const bool isX = axis == 0;
    const auto a = static_cast<size_t>(isX ? 0 : 1);
    const int32_t count = isX ? layout_.CountX() : layout_.CountY();
    double level = isX ? restX_[i] : restY_[i];
    const double period = isX ? driftPeriodX_[i] : driftPeriodY_[i];
    const double phase = isX ? driftPhaseX_[i] : driftPhaseY_[i];
    level += scenario_.drift * std::sin(2.0 * kPi * now_ / period + phase);
    if (scenario_.rise != 0.0) {
        level += scenario_.rise * riseFactor_[a][i] * now_ / 60.0;
    }
    if (dead_[a][i]) {
        return level;
    }
    const double gain = gain_[a][i];
    for (const Finger& finger : fingers_) {
        if (!finger.present) {
            continue;
        }
        const double position = isX ? finger.X(local) : finger.Y(local);
        level += gain * finger.strength * Profile(finger, k - position * (count - 1));
    }
    return level;
}

void SimulatedBoard::Render(uint8_t* samples) {
    const int32_t len = layout_.muxSize;
    if (len <= 0 || len > kMaxSamples) {
        return;
    }
    std::fill(samples, samples + len, uint8_t{0});
    if (!layout_.Valid()) {
        return;
    }
    auto reading = [&](double level, double extraSigma) {
        double noisy = level + scenario_.noise * noise_(random_);
        if (extraSigma > 0.0) {
            noisy += extraSigma * extraNoise_(extra_);
        }
        const auto counts = static_cast<int64_t>(std::lround(noisy));
        return static_cast<uint8_t>(((counts % 256) + 256) % 256);  // 8 bits, wrapping
    };
    // What all electrodes of an axis pick up alike in this frame: common noise and hum.
    auto shared = [&](size_t axis) {
        double value = 0.0;
        if (scenario_.common > 0.0) {
            value += scenario_.common * extraNoise_(extra_);
        }
        if (scenario_.humAmplitude > 0.0) {
            value += scenario_.humAmplitude *
                     std::sin(2.0 * kPi * scenario_.humHz * now_ + humPhase_[axis]);
        }
        return value;
    };
    const double sharedX = shared(0);
    for (int32_t k = 0; k < layout_.CountX(); ++k) {
        samples[layout_.SampleOfX(k)] =
            reading(Level(0, k) + sharedX, extraSigma_[0][static_cast<size_t>(k)]);
    }
    const double sharedY = shared(1);
    for (int32_t k = 0; k < layout_.CountY(); ++k) {
        samples[layout_.SampleOfY(k)] =
            reading(Level(1, k) + sharedY, extraSigma_[1][static_cast<size_t>(k)]);
    }
}

FrameReports SimulatedBoard::FrameAt(double t) {
    FrameReports out;
    if (!AdvanceTo(t)) {
        return out;
    }
    std::array<uint8_t, kMaxSamples> samples{};
    Render(samples.data());
    return PackFrame(layout_.muxSize, samples.data());
}

}  // namespace kv::sim
