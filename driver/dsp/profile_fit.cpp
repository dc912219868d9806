// Places a finger between electrodes by the profile the foil shows, for the precise path.
#include "driver/dsp/profile_fit.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

constexpr float kTiny = 1e-6f;
// How much of the learnt error and curvature a clean frame keeps: a memory of a few hundred
// frames, seconds of touching.
constexpr float kKeep = 0.995f;
// Clean frames before the learnt shape is trusted, and how much better another exponent must
// predict before it takes over (so that two near-equal ones do not take turns).
constexpr int32_t kWarmUp = 100;
constexpr float kSwitchMargin = 0.8f;
// The curvature is learnt only where both neighbours read at least this share of the peak: on
// a weaker one noise bends the transform's steep end and with it the mean.
constexpr float kSteady = 0.15f;

// The power transform, and back.
float Bend(float u, float p) {
    return p == 0.0f ? std::log(u) : (std::pow(u, p) - 1.0f) / p;
}
float Unbend(float t, float p) {
    if (p == 0.0f) {
        return std::exp(t);
    }
    const float base = 1.0f + p * t;
    return base > 0.0f ? std::pow(base, 1.0f / p) : 0.0f;
}

}  // namespace

float ProfileFit::Model(float x) const {
    return Unbend(Curvature() * x * x, kExponents[static_cast<size_t>(itsShape)]);
}

void ProfileFit::Reset() {
    // A Gaussian finger of 0.7 pitch centred on an electrode: its neighbours read 0.36 of it.
    const float neighbour = std::exp(-0.5f / (0.7f * 0.7f));
    for (int32_t s = 0; s < kShapes; ++s) {
        itsCurvature[static_cast<size_t>(s)] = Bend(neighbour, kExponents[static_cast<size_t>(s)]);
    }
    itsError.fill(0.0f);
    itsShape = kStartShape;
    itsLearnt = 0;
}

bool ProfileFit::Locate(int32_t peak, int32_t count, const float* signal, bool clean, float& place,
                        float* height) {
    if (signal == nullptr || count < 3 || peak < 0 || peak >= count) {
        return false;
    }
    // The signal's own maximum beside the correlation's.
    int32_t k = peak;
    if (peak > 0 && signal[peak - 1] > signal[k]) {
        k = peak - 1;
    }
    if (peak < count - 1 && signal[peak + 1] > signal[k]) {
        k = peak + 1;
    }
    const float top = signal[k];
    if (!(top > kTiny)) {
        return false;
    }
    const float p = kExponents[static_cast<size_t>(itsShape)];
    const auto bent = [&](int32_t j) { return Bend(std::clamp(signal[j] / top, kFloor, 1.0f), p); };
    if (k > 0 && k < count - 1) {
        // The parabola through the bent neighbours and the peak (0 at k): its vertex.
        const float left = bent(k - 1);
        const float right = bent(k + 1);
        const float a = (left + right) / 2.0f;
        const float b = (right - left) / 2.0f;
        const float d = a < -kTiny ? std::clamp(-b / (2.0f * a), -0.5f, 0.5f) : 0.0f;
        place = static_cast<float>(k) + d;
        if (height != nullptr) {
            *height = top * Unbend(a * d * d + b * d, p);
        }
        if (clean && k >= 2 && k <= count - 3) {
            Learn(k, signal);
        }
        return true;
    }
    // The outermost electrode has one neighbour: the finger is where the learnt profile gives
    // the neighbour's share of the electrode's reading (it falls as the finger nears the edge).
    const float share = std::clamp(signal[k == 0 ? 1 : count - 2] / top, kFloor, 1.0f);
    float inward = 0.0f;
    float outward = 0.5f;
    for (int32_t step = 0; step < 12; ++step) {
        const float x0 = (inward + outward) / 2.0f;
        const float modelShare = Model(1.0f - x0) / std::max(Model(x0), kTiny);
        (modelShare < share ? inward : outward) = x0;
    }
    const float x0 = (inward + outward) / 2.0f;
    place = k == 0 ? x0 : static_cast<float>(count - 1) - x0;
    if (height != nullptr) {
        *height = top / std::max(Model(x0), kTiny);
    }
    return true;
}

float ProfileFit::NeighbourLogs(float d) const {
    const auto logOf = [&](float x) { return std::log(std::max(Model(x), kFloor)); };
    return logOf(1.0f + d) + logOf(1.0f - d) - 2.0f * logOf(d);
}

void ProfileFit::Learn(int32_t k, const float* signal) {
    const float top = signal[k];
    const float farLeft = signal[k - 2] / top;
    const float farRight = signal[k + 2] / top;
    const bool steady = signal[k - 1] >= kSteady * top && signal[k + 1] >= kSteady * top;
    for (int32_t s = 0; s < kShapes; ++s) {
        const float p = kExponents[static_cast<size_t>(s)];
        const float left = Bend(std::clamp(signal[k - 1] / top, kFloor, 1.0f), p);
        const float right = Bend(std::clamp(signal[k + 1] / top, kFloor, 1.0f), p);
        const float a = (left + right) / 2.0f;
        const float b = (right - left) / 2.0f;
        // Each exponent's parabola carried out to the electrodes two away.
        const float eLeft = Unbend(4.0f * a - 2.0f * b, p) - farLeft;
        const float eRight = Unbend(4.0f * a + 2.0f * b, p) - farRight;
        auto& error = itsError[static_cast<size_t>(s)];
        error = kKeep * error + (1.0f - kKeep) * (eLeft * eLeft + eRight * eRight);
        if (steady && a < -kTiny) {
            // The profile's curvature against its vertex, where this exponent's parabola puts
            // it, from both neighbours.
            const float d = std::clamp(-b / (2.0f * a), -0.5f, 0.5f);
            const float vertex = std::max(Unbend(a * d * d + b * d, p), kTiny);
            const float toLeft = std::clamp(signal[k - 1] / top / vertex, kFloor, 1.0f);
            const float toRight = std::clamp(signal[k + 1] / top / vertex, kFloor, 1.0f);
            const float c = (Bend(toLeft, p) / ((1.0f + d) * (1.0f + d)) +
                             Bend(toRight, p) / ((1.0f - d) * (1.0f - d))) /
                            2.0f;
            auto& curvature = itsCurvature[static_cast<size_t>(s)];
            curvature = kKeep * curvature + (1.0f - kKeep) * c;
        }
    }
    if (itsLearnt < kWarmUp) {
        ++itsLearnt;
        return;
    }
    const auto best =
        static_cast<int32_t>(std::min_element(itsError.begin(), itsError.end()) - itsError.begin());
    if (itsError[static_cast<size_t>(best)] <
        kSwitchMargin * itsError[static_cast<size_t>(itsShape)]) {
        itsShape = best;
    }
}

}  // namespace kv
