// The simulated foil and board.
#include "driver/sim/simulated_board.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kv::sim {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

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

double SimulatedBoard::Profile(double distance) const {
    const double u = distance / scenario_.width;
    return std::exp(-0.5 * u * u);
}

double SimulatedBoard::Level(int axis, int32_t k) const {
    const double local = now_ - loopBase_;
    const auto i = static_cast<size_t>(k);
    const bool isX = axis == 0;
    const int32_t count = isX ? layout_.CountX() : layout_.CountY();
    double level = isX ? restX_[i] : restY_[i];
    const double period = isX ? driftPeriodX_[i] : driftPeriodY_[i];
    const double phase = isX ? driftPhaseX_[i] : driftPhaseY_[i];
    level += scenario_.drift * std::sin(2.0 * kPi * now_ / period + phase);
    for (const Finger& finger : fingers_) {
        if (!finger.present) {
            continue;
        }
        const double position = isX ? finger.X(local) : finger.Y(local);
        level += finger.strength * Profile(k - position * (count - 1));
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
    auto reading = [&](double level) {
        const double noisy = level + scenario_.noise * noise_(random_);
        const auto counts = static_cast<int64_t>(std::lround(noisy));
        return static_cast<uint8_t>(((counts % 256) + 256) % 256);  // 8 bits, wrapping
    };
    for (int32_t k = 0; k < layout_.CountX(); ++k) {
        samples[layout_.SampleOfX(k)] = reading(Level(0, k));
    }
    for (int32_t k = 0; k < layout_.CountY(); ++k) {
        samples[layout_.SampleOfY(k)] = reading(Level(1, k));
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
