// Finds the two strongest peaks of one axis's correlation and places them between electrodes.
#include "driver/dsp/dsp_peak_finder.h"

#include <algorithm>
#include <cmath>

#include "driver/dsp/touch_detector.h"

namespace kv {

namespace {

constexpr float kTiny = 0.0001f;
// A frame teaches the profile fit when its first peak is this many times the threshold and a
// second one, if any, is below this share of it.
constexpr float kCleanFactor = 2.0f;
constexpr float kAloneShare = 0.25f;
// Electrodes further than this from every finger carry only what the axis picks up as a whole
// and noise, when there are this many of them; the noise's variance is learnt with this memory.
constexpr int32_t kFarDistance = 5;
constexpr int32_t kFewestFar = 4;
constexpr float kNoiseKeep = 0.99f;
// Two peaks of an axis nearer than this (electrodes) are placed each on the signal less the
// other, this many times, unless they are nearer than kMerged: then they are one wide peak,
// which the two-finger pairing takes apart by the fingers' motion.
constexpr float kOverlap = 4.0f;
constexpr int32_t kOverlapRounds = 3;
constexpr float kMerged = 1.0f;
// Two narrow fingers two or three electrodes apart can give the correlation one peak: the
// signal less the one finger's profile then still reads a second, kSplitShare of its height or
// more (and kSplitNoise times the noise), kSplitReach electrodes or fewer from it.
constexpr int32_t kSplitReach = 3;
constexpr float kSplitShare = 0.4f;
constexpr float kSplitNoise = 4.0f;

// Integer part of a table position, kept inside the table (0 .. last). The callers clamp
// their inputs first, so the conversion is always defined.
size_t TableIndex(float value, int32_t last) {
    return static_cast<size_t>(std::clamp(static_cast<int32_t>(value), 0, last));
}

}  // namespace

DspPeakFinder::DspPeakFinder(TouchDetector& detector, const InterpolationTables& tables)
    : theTables(tables), theDetector(detector) {}

void DspPeakFinder::FormTriple(int32_t k, int32_t n, const float* c) {
    itsLeft = c[k - 1];
    itsCentre = c[k];
    itsRight = c[k + 1];
    // A plateau against the first electrode still counts as a peak at electrode 1.
    if (itsLeft == itsCentre && k == 1 && itsCentre > itsRight) {
        itsLeft -= 1.0f;
    }
    // A plateau to the right is judged by the electrode beyond it.
    if (itsRight == itsCentre) {
        if (k == n - 2) {
            if (itsLeft < itsCentre) {
                itsRight -= 1.0f;
            }
        } else {
            itsRight = c[k + 2];
        }
    }
}

bool DspPeakFinder::IsPeakAbove(float best) const {
    return itsLeft < itsCentre && itsRight < itsCentre && itsCentre > best;
}

void DspPeakFinder::FindPeaks(int32_t count, int32_t axis, bool frameComplete,
                              const float* correlation, const float* signal) {
    itsFirst.Clear();
    itsSecond.Clear();
    if (correlation == nullptr || count < kMinCount || count > kMaxCount) {
        return;
    }
    const int32_t n = count;
    const float* c = correlation;

    // Seed with the two ends; an interior maximum has to beat the stronger one.
    int32_t first = n - 1;
    int32_t second = 0;
    if (c[0] > c[n - 1]) {
        first = 0;
        second = n - 1;
    }
    float firstBest = c[first];
    float secondBest = c[second];

    for (int32_t k = 1; k <= n - 2; ++k) {
        FormTriple(k, n, c);
        if (IsPeakAbove(firstBest)) {
            first = k;
            firstBest = itsCentre;
        }
    }
    for (int32_t k = 1; k <= n - 2; ++k) {
        if (k == first) {
            continue;
        }
        FormTriple(k, n, c);
        if (IsPeakAbove(secondBest)) {
            second = k;
            secondBest = itsCentre;
        }
    }

    PeakCandidate peak;
    if (Interpolate(first, n, c, peak)) {
        itsFirst = peak;
    }
    peak.Clear();
    if (Interpolate(second, n, c, peak)) {
        itsSecond = peak;
    }
    if (signal != nullptr && theDetector.Path() == TouchPath::Precise) {
        FitProfile(n, signal);
    }
    theDetector.Intake(count, axis, frameComplete, itsFirst, itsSecond);
}

// Noise common to every electrode of the axis (the board's reference, mains hum) cancels in the
// correlation, whose template sums to zero, but not in the signal. The electrodes far from
// every finger carry it and hardly any finger: their mean is taken off first (the median of the
// axis where too few are far, as on a foil with two fingers wide apart), and their spread is
// the noise.
void DspPeakFinder::FitProfile(int32_t n, const float* signal) {
    const auto count = static_cast<size_t>(n);
    // A second peak this weak is noise or a tail, not a finger.
    bool alone = itsSecond.index < 0 || itsSecond.amplitude < kAloneShare * itsFirst.amplitude;
    const auto far = [&](int32_t i) {
        return std::abs(i - itsFirst.index) > kFarDistance &&
               (alone || std::abs(i - itsSecond.index) > kFarDistance);
    };
    float sum = 0.0f;
    float squares = 0.0f;
    int32_t quiet = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (far(i)) {
            sum += signal[i];
            squares += signal[i] * signal[i];
            ++quiet;
        }
    }
    float common = 0.0f;
    if (quiet >= kFewestFar) {
        common = sum / static_cast<float>(quiet);
        const float variance = squares / static_cast<float>(quiet) - common * common;
        itsNoise = kNoiseKeep * itsNoise + (1.0f - kNoiseKeep) * std::max(variance, 0.0f);
    } else {
        std::copy(signal, signal + count, itsLevelled.begin());
        std::nth_element(itsLevelled.begin(), itsLevelled.begin() + count / 2,
                         itsLevelled.begin() + count);
        common = itsLevelled[count / 2];
    }
    for (size_t i = 0; i < count; ++i) {
        itsLevelled[i] = signal[i] - common;
    }
    itsGains.Apply(n, itsLevelled.data());
    const auto place = [&](PeakCandidate& peak, const float* from, bool clean, float& at,
                           float& height) {
        if (peak.index < 0 || !itsProfile.Locate(peak.index, n, from, clean, at, &height)) {
            return false;
        }
        peak.position = std::clamp(at / static_cast<float>(n - 1), 0.0f, 1.0f);
        if (clean && itsProfile.Settled()) {
            const auto k = static_cast<int32_t>(std::lround(at));
            const float d = at - static_cast<float>(k);
            itsGains.Learn(n, k, d, from, itsProfile.NeighbourLogs(d), itsNoise);
        }
        return true;
    };
    // Only one strong finger on the axis teaches the profile: a second one's tail, or a touch
    // near the threshold, would bend what is learnt.
    const bool strong = itsFirst.amplitude > kCleanFactor * theDetector.EffectiveThreshold();
    float atFirst = 0.0f;
    float atSecond = 0.0f;
    float heightFirst = 0.0f;
    float heightSecond = 0.0f;
    const auto without = [&](float at, float height) {
        for (int32_t i = 0; i < n; ++i) {
            itsWork[static_cast<size_t>(i)] = itsLevelled[static_cast<size_t>(i)] -
                                              height * itsProfile.Model(static_cast<float>(i) - at);
        }
        return itsWork.data();
    };
    bool placedFirst = place(itsFirst, itsLevelled.data(), false, atFirst, heightFirst);
    if (placedFirst && alone &&
        SplitSecond(n, without(atFirst, heightFirst), atFirst, heightFirst)) {
        alone = false;
    }
    if (placedFirst && strong && alone) {
        placedFirst = place(itsFirst, itsLevelled.data(), true, atFirst, heightFirst);
    }
    const bool placedSecond = place(itsSecond, itsLevelled.data(), false, atSecond, heightSecond);
    if (!placedFirst || !placedSecond || alone || std::fabs(atFirst - atSecond) > kOverlap ||
        std::fabs(atFirst - atSecond) < kMerged) {
        return;
    }
    // Two fingers this close lean on each other's tails: each is placed again on the signal
    // less the other's profile, a few times over, so that a resting finger stays where it is
    // while the other passes near it.
    for (int32_t round = 0; round < kOverlapRounds; ++round) {
        place(itsFirst, without(atSecond, heightSecond), false, atFirst, heightFirst);
        place(itsSecond, without(atFirst, heightFirst), false, atSecond, heightSecond);
    }
}

bool DspPeakFinder::SplitSecond(int32_t n, const float* rest, float at, float height) {
    const auto k = static_cast<int32_t>(std::lround(at));
    const float least = std::max(kSplitShare * height, kSplitNoise * std::sqrt(itsNoise));
    int32_t best = -1;
    const float* s = itsLevelled.data();
    for (int32_t j = std::max(1, k - kSplitReach); j <= std::min(n - 2, k + kSplitReach); ++j) {
        // A maximum of the signal itself: a single finger's profile shows none beside its own.
        const bool maximum = s[j] > s[j - 1] && s[j] > s[j + 1];
        if (std::abs(j - k) >= 2 && maximum && rest[j] > least &&
            (best < 0 || rest[j] > rest[best])) {
            best = j;
        }
    }
    if (best < 0) {
        return false;
    }
    itsSecond.index = best;
    itsSecond.position = static_cast<float>(best) / static_cast<float>(n - 1);
    itsSecond.amplitude = itsFirst.amplitude * std::min(1.0f, rest[best] / height);
    return true;
}

bool DspPeakFinder::Interpolate(int32_t k, int32_t n, const float* c, PeakCandidate& peak) const {
    const float span = static_cast<float>(n - 1);
    float position = 0.0f;
    float amplitude = 0.0f;
    if (k > 0 && k < n - 1) {
        // Vertex of the parabola through the three neighbours.
        const float left = c[k - 1];
        const float centre = c[k];
        const float right = c[k + 1];
        float f = (left + right) / 2.0f - centre;
        if (std::fabs(f) < kTiny) {
            f = f > 0.0f ? kTiny : -kTiny;
        }
        const float g = std::clamp(-((right - left) / 2.0f) / (2.0f * f), -0.5f, 0.5f);
        const size_t idx = TableIndex((g + 0.5f) * 256.0f, 256);
        position = std::clamp(
            (static_cast<float>(k) + g + itsOffsetFactor * theTables.t1[idx]) / span, 0.0f, 1.0f);
        amplitude = centre * (1.0f + itsShapeFactor * theTables.t2[idx]);
    } else if (k == 0) {
        const float y0 = c[0];
        const float y1 = c[1];
        if (!(y0 > kTiny)) {
            return false;
        }
        const float r = std::clamp(0.5f * y1 / y0, 0.0f, 0.5f);
        const size_t idx = TableIndex((0.5f + r) * 256.0f, 256);
        position = std::clamp((r + itsOffsetFactor * theTables.t1[idx]) / span, 0.0f, 1.0f);
        amplitude = y0 * (1.0f + itsShapeFactor * theTables.t2[idx]);
    } else {
        const float a = c[n - 2];
        const float b = c[n - 1];
        if (!(b > kTiny)) {
            return false;
        }
        const float r = std::clamp(-0.5f * a / b, -0.5f, 0.0f);
        const size_t idx = TableIndex((r + 0.5f) * 256.0f, 256);
        position = std::clamp((span + r + itsOffsetFactor * theTables.t1[idx]) / span, 0.0f, 1.0f);
        amplitude = b * (1.0f + itsShapeFactor * theTables.t2[idx]);
    }
    // Evens out the response along the axis: a touch in the middle is taken down by up to
    // 30 % against one at either end.
    position = std::clamp(position, 0.0f, 1.0f);
    const size_t j = TableIndex(position * 1024.0f, 1024);
    amplitude *= 1.0f + itsPositionFactor * theTables.t3[j];

    peak.index = k;
    peak.position = position;
    peak.amplitude = amplitude;
    return true;
}

}  // namespace kv
