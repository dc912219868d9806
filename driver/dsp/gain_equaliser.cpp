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
    // Taken as read, the gains in use undone: what is learnt is the electrodes' own second
    // difference, a mean that holds still, not what is left of it after the gains learnt so far
    // (a sum that grows as long as the fit's ridge holds the gains short of it, and reaches its
    // bound where one second difference alone holds an electrode, as at either end).
    const auto read = [&](int32_t i) {
        return signal[i] * (itsTrusted ? itsGain[static_cast<size_t>(i)] : 1.0f);
    };
    // The logarithm of a noisy reading is low by about half the noise's variance over the
    // reading squared, more on the weaker neighbour; without this a finger that rests where
    // one neighbour is weak would teach a bend.
    const auto unbiased = [&](float v) { return std::log(v) + noise / (2.0f * v * v); };
    const float logs = unbiased(read(k - 1)) + unbiased(read(k + 1)) - 2.0f * unbiased(read(k));
    // The first frames at an electrode are averaged; later ones move it by kRate each.
    auto& samples = itsSamples[static_cast<size_t>(k)];
    const float rate = std::max(kRate, 1.0f / static_cast<float>(samples + 1));
    auto& curve = itsCurve[static_cast<size_t>(k)];
    curve = std::clamp(curve + rate * (logs - expected - curve), -1.0f, 1.0f);
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
// their noise would make up, stay out (a ridge fit). The ridge on an electrode goes with how
// many second differences can hold it, so that the outermost one, held by one alone, is drawn
// towards 1 no more than the others. The normal equations are five-banded and are solved
// outright by their Cholesky factor.
void GainEqualiser::Rebuild() {
    const auto n = static_cast<int32_t>(itsCount);
    const auto at = [](auto& a, int32_t i) -> auto& {
        return a[static_cast<size_t>(i)];
    };
    // An electrode's second difference counts by how much it has been learnt.
    const auto trust = [&](int32_t k) {
        return k >= 1 && k <= n - 2
                   ? static_cast<float>(at(itsSamples, k)) / static_cast<float>(kSamplesNeeded)
                   : 0.0f;
    };
    // A bend common to the whole axis is the finger being wider or narrower than the profile
    // fit holds, or noise's bias on the weaker neighbour, not the gains: it is taken off the
    // learnt second differences.
    float bend = 0.0f;
    float trusted = 0.0f;
    for (int32_t k = 1; k < n - 1; ++k) {
        bend += trust(k) * at(itsCurve, k);
        trusted += trust(k);
    }
    if (trusted > 0.0f) {
        bend /= trusted;
    }
    const auto pull = [&](int32_t k) {
        return k >= 1 && k <= n - 2 ? trust(k) * (at(itsCurve, k) - bend) : 0.0f;
    };
    for (int32_t i = 0; i < n; ++i) {
        // Row i of the normal equations: its diagonal, and the two to its left.
        const float held = trust(i - 1) + 4.0f * trust(i) + trust(i + 1);
        const float holding = (i >= 2 ? 1.0f : 0.0f) + (i >= 1 && i <= n - 2 ? 4.0f : 0.0f) +
                              (i <= n - 3 ? 1.0f : 0.0f);
        const float diagonal = kRidge * holding / 6.0f + held;
        const float one = -2.0f * (trust(i - 1) + trust(i));
        const float two = trust(i - 1);
        const float l2 = i >= 2 ? two / at(itsBand0, i - 2) : 0.0f;
        const float l1 =
            i >= 1 ? (one - l2 * (i >= 2 ? at(itsBand1, i - 1) : 0.0f)) / at(itsBand0, i - 1)
                   : 0.0f;
        at(itsBand2, i) = l2;
        at(itsBand1, i) = l1;
        at(itsBand0, i) = std::sqrt(diagonal - l1 * l1 - l2 * l2);
        // Forward substitution, into itsLog.
        const float rhs = pull(i - 1) - 2.0f * pull(i) + pull(i + 1);
        at(itsLog, i) = (rhs - (i >= 1 ? l1 * at(itsLog, i - 1) : 0.0f) -
                         (i >= 2 ? l2 * at(itsLog, i - 2) : 0.0f)) /
                        at(itsBand0, i);
    }
    for (int32_t i = n - 1; i >= 0; --i) {
        float h = at(itsLog, i);
        if (i + 1 < n) {
            h -= at(itsBand1, i + 1) * at(itsLog, i + 1);
        }
        if (i + 2 < n) {
            h -= at(itsBand2, i + 2) * at(itsLog, i + 2);
        }
        at(itsLog, i) = h / at(itsBand0, i);
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
