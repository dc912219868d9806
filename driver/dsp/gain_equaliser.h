// Evens out the electrodes' gains of one axis, learnt from the fingers that touch it.
//
// An electrode that reads 15 % strong pulls every finger near it towards itself by up to a
// tenth of a pitch. Its gain cannot be read from one frame: a finger's strength and place are
// unknown too. But the finger's profile, bent by the profile fit's transform, is a parabola
// of known curvature, so the two neighbours of a peak, against the peak, read what the profile
// says wherever the finger is; what they read beyond that is the second difference of the log
// gains at the peak's electrode. Those are gathered slowly over clean frames, and the gains
// are rebuilt from them, without a trend along the axis (a slope of gain moves no finger much
// and cannot be told from the finger's place).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kv {

class GainEqualiser {
public:
    static constexpr int32_t kMaxCount = 128;
    // How much of a frame's residual is learnt, and the most a gain may differ from 1 (in its
    // logarithm: 0.67 .. 1.5 times).
    static constexpr float kRate = 0.01f;
    static constexpr float kLimit = 0.4f;
    // Clean frames at an electrode before what they taught counts fully, and the share of the
    // electrodes that must have had them before the gains are used.
    static constexpr int32_t kSamplesNeeded = 30;
    static constexpr int32_t kCoverNumerator = 4;
    static constexpr int32_t kCoverDenominator = 5;
    // Weight of the log gains themselves in their fit to the second differences, on an
    // electrode that three of them hold.
    static constexpr float kRidge = 1.0f;
    // Neighbours reading less than this share of the peak are too noisy to learn from. A
    // narrow finger under glass leaves its neighbours about a tenth of the peak where it is
    // centred: a foil that never reads more there must still teach.
    static constexpr float kLeast = 0.08f;
    // Only a finger this near its peak's electrode teaches: further out the weaker neighbour's
    // noise and the choice of the peak's electrode bias what the neighbours read.
    static constexpr float kCentred = 0.25f;

    // An electrode that reads nothing is filled in from its two neighbours (their mean where no
    // finger is near): it teaches nothing of its own, and a peak beside it would learn the
    // fill's bend as gains. It is told by its noise, from clean frames with the finger at least
    // kQuietDistance away: once every electrode has had kQuietFrames of them, what one reads
    // beyond its neighbours' mean has under kFilled of the axis's median variance (an
    // electrode of its own has 1.5 times it). Below kLeastNoise (counts squared) there is too
    // little noise to tell.
    static constexpr int32_t kQuietDistance = 5;
    static constexpr int32_t kQuietFrames = 400;
    static constexpr float kFilled = 0.25f;
    static constexpr float kLeastNoise = 0.1f;

    // signal[0 .. count-1] divided by the learnt gains.
    void Apply(int32_t count, float* signal) const;
    // A clean frame's finger d from electrode k of the equalised signal, the sum of the logs
    // of the neighbours' shares of the peak that the finger's profile expects there, and the
    // variance of the signal's noise.
    void Learn(int32_t count, int32_t k, float d, const float* signal, float expected, float noise);
    float Gain(int32_t i) const { return itsGain[static_cast<std::size_t>(i)]; }
    bool Trusted() const { return itsTrusted; }
    // Whether electrode i has been found filled in from its neighbours.
    bool Filled(int32_t i) const { return itsFilled[static_cast<std::size_t>(i)]; }
    void Reset(int32_t count);

private:
    void Rebuild();
    // What the electrodes far from the finger at k read, and which of them are filled in;
    // what the peaks beside one newly found filled taught is forgotten.
    void Listen(int32_t k, const float* signal);

    std::array<float, kMaxCount> itsCurve{};  // learnt second differences of the log gains
    std::array<float, kMaxCount> itsLog{};    // the log gains fitted to them
    std::array<float, kMaxCount> itsGain{};
    // The three bands of the Cholesky factor of the log gains' normal equations.
    std::array<float, kMaxCount> itsBand0{};
    std::array<float, kMaxCount> itsBand1{};
    std::array<float, kMaxCount> itsBand2{};
    std::array<int32_t, kMaxCount> itsSamples{};  // clean frames learnt from, per electrode
    std::array<float, kMaxCount> itsQuiet{};      // mean square of an electrode's noise
    std::array<float, kMaxCount> itsBeyond{};     // of what it reads beyond its neighbours' mean
    std::array<float, kMaxCount> itsSorted{};
    std::array<int32_t, kMaxCount> itsQuietSeen{};
    std::array<bool, kMaxCount> itsFilled{};
    int32_t itsCount = 0;
    int32_t itsCovered = 0;  // electrodes with kSamplesNeeded of them
    bool itsTrusted = false;
};

}  // namespace kv
