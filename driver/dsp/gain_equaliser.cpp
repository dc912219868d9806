// Evens out the electrodes' gains of one axis, learnt from the fingers that touch it.
#include "driver/dsp/gain_equaliser.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

namespace kv {

void GainEqualiser::Reset(int32_t count) {
    itsCount = std::clamp(count, 0, kMaxCount);
    itsCurve.fill(0.0f);
    itsLog.fill(0.0f);
    itsGain.fill(1.0f);
    itsSamples.fill(0);
    itsQuiet.fill(0.0f);
    itsBeyond.fill(0.0f);
    itsQuietSeen.fill(0);
    itsFilled.fill(false);
    itsCovered = 0;
    itsTrusted = false;
}

void GainEqualiser::Apply(int32_t count, float* signal) const {
    if (count != itsCount || !itsTrusted) {
        return;  // not learnt for this layout yet
    }
    for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
        signal[i] /= itsGain[i];
    }
}

void GainEqualiser::Learn(int32_t count, int32_t k, float d, const float* signal, float expected,
                          float noise) {
    if (count != itsCount) {
        Reset(count);
    }
    if (count < 3 || k < 1 || k > count - 2 || !(signal[k] > 0.0f)) {
        return;
    }
    Listen(k, signal);
    if (std::fabs(d) > kCentred || Filled(k - 1) || Filled(k) || Filled(k + 1)) {
        return;
    }
    const float left = signal[k - 1];
    const float centre = signal[k];
    const float right = signal[k + 1];
    if (!(left >= kLeast * centre && right >= kLeast * centre)) {
        return;
    }
    // The logarithm of a noisy reading is low by about half the noise's variance over the
    // reading squared, more on the weaker neighbour; without this a finger that rests where
    // one neighbour is weak would teach a bend.
    const auto unbiased = [&](float v) { return std::log(v) + noise / (2.0f * v * v); };
    const float logs = unbiased(left) + unbiased(right) - 2.0f * unbiased(centre);
    // The first frames at an electrode are averaged; later ones move it by kRate each.
    auto& samples = itsSamples[static_cast<size_t>(k)];
    const float rate = std::max(kRate, 1.0f / static_cast<float>(samples + 1));
    auto& curve = itsCurve[static_cast<size_t>(k)];
    curve = std::clamp(curve + rate * (logs - expected), -1.0f, 1.0f);
    if (samples < kSamplesNeeded && ++samples == kSamplesNeeded) {
        ++itsCovered;
        // Gains learnt at a few places would bend the rest of the axis: they are used once
        // fingers have been nearly everywhere.
        itsTrusted = itsCovered * kCoverDenominator >= (count - 2) * kCoverNumerator;
    }
    Rebuild();
}

void GainEqualiser::Listen(int32_t k, const float* signal) {
    const auto n = static_cast<size_t>(itsCount);
    // As read: the gains in use undone.
    const auto read = [&](size_t i) { return signal[i] * (itsTrusted ? itsGain[i] : 1.0f); };
    bool ready = true;
    for (size_t i = 0; i < n; ++i) {
        if (std::abs(static_cast<int32_t>(i) - k) > kQuietDistance) {
            const float v = read(i);
            const float beyond = i > 0 && i + 1 < n ? v - (read(i - 1) + read(i + 1)) / 2.0f : v;
            auto& seen = itsQuietSeen[i];
            seen = std::min(seen + 1, kQuietFrames);
            const float rate = 1.0f / static_cast<float>(seen);
            itsQuiet[i] += rate * (v * v - itsQuiet[i]);
            itsBeyond[i] += rate * (beyond * beyond - itsBeyond[i]);
        }
        ready = ready && itsQuietSeen[i] >= kQuietFrames;
    }
    if (!ready) {
        return;
    }
    const auto end = itsSorted.begin() + static_cast<std::ptrdiff_t>(n);
    std::copy(itsQuiet.begin(), itsQuiet.begin() + static_cast<std::ptrdiff_t>(n),
              itsSorted.begin());
    std::nth_element(itsSorted.begin(), itsSorted.begin() + static_cast<std::ptrdiff_t>(n / 2),
                     end);
    const float median = itsSorted[n / 2];
    for (size_t i = 0; i < n; ++i) {
        const bool filled = median >= kLeastNoise && itsBeyond[i] < kFilled * median;
        if (filled && !itsFilled[i]) {
            for (size_t j = std::max<size_t>(i, 1) - 1; j <= std::min(i + 1, n - 1); ++j) {
                if (itsSamples[j] >= kSamplesNeeded) {
                    --itsCovered;
                }
                itsCurve[j] = 0.0f;
                itsSamples[j] = 0;
            }
        }
        itsFilled[i] = filled;
    }
}

// The log gains h whose second differences come closest to the learnt ones, with weight on h
// itself (kRidge): slow changes along the axis, which the second differences hardly show and
// their noise would make up, stay out (a ridge fit). Two coordinate sweeps per call: the fit
// moves on from the last one as slowly as the learning does.
void GainEqualiser::Rebuild() {
    const auto n = static_cast<int32_t>(itsCount);
    const auto at = [](auto& a, int32_t i) -> auto& {
        return a[static_cast<size_t>(i)];
    };
    const auto residual = [&](int32_t k) {
        return at(itsCurve, k) - (at(itsLog, k - 1) - 2.0f * at(itsLog, k) + at(itsLog, k + 1));
    };
    // An electrode's second difference counts by how much it has been learnt.
    const auto trust = [&](int32_t k) {
        return static_cast<float>(at(itsSamples, k)) / static_cast<float>(kSamplesNeeded);
    };
    // A bend common to the whole axis is the finger being wider or narrower than the profile
    // fit holds, or noise's bias on the weaker neighbour, not the gains: the learnt second
    // differences are kept to a mean of 0.
    float bend = 0.0f;
    float trusted = 0.0f;
    for (int32_t k = 1; k < n - 1; ++k) {
        bend += trust(k) * at(itsCurve, k);
        trusted += trust(k);
    }
    if (trusted > 0.0f) {
        for (int32_t k = 1; k < n - 1; ++k) {
            at(itsCurve, k) -= bend / trusted;
        }
    }
    for (int32_t sweep = 0; sweep < 2; ++sweep) {
        for (int32_t i = 0; i < n; ++i) {
            float pull = -kRidge * at(itsLog, i);
            float weight = kRidge;
            for (int32_t k = std::max(1, i - 1); k <= std::min(n - 2, i + 1); ++k) {
                const float d = k == i ? -2.0f : 1.0f;
                pull += trust(k) * d * residual(k);
                weight += trust(k) * d * d;
            }
            at(itsLog, i) += pull / weight;
        }
    }
    float mean = 0.0f;
    for (int32_t i = 0; i < n; ++i) {
        mean += at(itsLog, i);
    }
    mean /= static_cast<float>(n);
    for (int32_t i = 0; i < n; ++i) {
        at(itsGain, i) = std::exp(std::clamp(at(itsLog, i) - mean, -kLimit, kLimit));
    }
}

}  // namespace kv
