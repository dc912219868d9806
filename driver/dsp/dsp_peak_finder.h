// Finds the two strongest peaks of one axis's correlation and places them between electrodes.
#pragma once

#include <array>
#include <cstdint>

#include "driver/core/peak_candidate.h"
#include "driver/dsp/gain_equaliser.h"
#include "driver/dsp/interpolation_tables.h"
#include "driver/dsp/profile_fit.h"

namespace kv {

class TouchDetector;

class DspPeakFinder {
public:
    static constexpr int32_t kMinCount = 8;
    static constexpr int32_t kMaxCount = 128;

    explicit DspPeakFinder(TouchDetector& detector,
                           const InterpolationTables& tables = InterpolationTables::Instance());

    // Searches correlation[0 .. count-1] and hands both peaks to the touch detector. Counts
    // outside 8..128 leave both peaks at their defaults and hand nothing on. On the precise
    // path the peaks are placed by the signal the correlation came from, where it is given.
    void FindPeaks(int32_t count, int32_t axis, bool frameComplete, const float* correlation,
                   const float* signal = nullptr);

    const PeakCandidate& First() const { return itsFirst; }
    const PeakCandidate& Second() const { return itsSecond; }
    // The finger's profile as learnt on this axis.
    const ProfileFit& Profile() const { return itsProfile; }

private:
    // Neighbour triple of electrode k (1 .. n-2) with the plateau rules applied.
    void FormTriple(int32_t k, int32_t n, const float* c);
    bool IsPeakAbove(float best) const;
    bool Interpolate(int32_t k, int32_t n, const float* c, PeakCandidate& peak) const;
    void FitProfile(int32_t n, const float* signal);
    // Where the correlation shows one peak: a second finger that the signal less the first's
    // profile (rest) still shows beside it becomes the second peak. True when there is one.
    bool SplitSecond(int32_t n, const float* rest, float at, float height);

    PeakCandidate itsFirst;
    PeakCandidate itsSecond;
    const InterpolationTables& theTables;
    ProfileFit itsProfile;
    GainEqualiser itsGains;
    float itsNoise = 0.0f;                       // variance of the signal's noise
    std::array<float, kMaxCount> itsLevelled{};  // the signal less its common part
    std::array<float, kMaxCount> itsWork{};      // it less one of two close fingers
    float itsOffsetFactor = -0.1f;
    float itsShapeFactor = 0.4f;
    float itsPositionFactor = -0.3f;
    float itsLeft = 0.0f;
    float itsCentre = 0.0f;
    float itsRight = 0.0f;
    TouchDetector& theDetector;
};

}  // namespace kv
