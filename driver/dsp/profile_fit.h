// Places a finger between electrodes by the profile the foil shows, for the precise path.
//
// The classic finder fits a parabola to three correlation values and corrects it with a table
// made for one finger shape; on a foil whose finger is narrower, wider or heavier-tailed the
// error grows to a quarter of a pitch. Here the signal itself is fitted: its three values
// around the peak, each divided by the peak's, are bent by a power transform (Box-Cox:
// (u^p - 1) / p, the logarithm at p = 0) until they lie on a parabola, whose vertex is the
// finger. A Gaussian profile is exact at p = 0, a Lorentzian at p = -1, a flat-topped contact
// above 0. Which exponent the foil needs is learnt in use: for every clean single peak each
// exponent predicts the two electrodes beyond the three, and the one whose predictions have
// been best lately is taken. The curvature learnt with it lets the outermost electrode place a
// finger right up to the edge, where only one neighbour is left.
//
// The three-value fit spends its noise badly where the profile is sharp and its tails weak (a
// narrow finger under glass): it leans on the weak neighbours, whose noise the transform blows
// up, and hardly on how the peak's own reading falls as the finger moves off it. So the profile
// itself is also learnt, as a table of its reading against the distance from the finger, from
// the same clean frames placed by the three-value fit; once every distance out to two and a
// half pitches has been seen often enough, the finger is placed by a least-squares fit of that
// table to the five electrodes around the peak, where each electrode counts by how much its
// reading changes with the finger's place, not by how small it is. The table learnt from noisy
// places is a little blurred, which bends that fit between two electrodes; what the three-value
// fit places beyond it, averaged by where the fit puts the finger, corrects it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kv {

class ProfileFit {
public:
    // The exponents tried, from a parabola to beyond a Lorentzian.
    static constexpr int32_t kShapes = 7;
    static constexpr std::array<float, kShapes> kExponents{1.0f,  0.5f,  0.0f, -0.5f,
                                                           -1.0f, -1.5f, -2.0f};
    static constexpr int32_t kStartShape = 2;  // the logarithm: a Gaussian finger
    // A neighbour's value is taken as at least this share of the peak's, so that noise on a
    // narrow finger's tail cannot bend the fit without bound.
    static constexpr float kFloor = 0.02f;

    ProfileFit() { Reset(); }

    // The finger's place, in electrodes (0 .. count-1), for the peak at electrode `peak` of
    // signal[0 .. count-1]; `clean` lets this frame teach the shape (one strong finger on the
    // axis). False where the signal shows no peak there; the caller keeps its own place then.
    // `height`, where given, receives the finger's own height (the profile's at its vertex).
    bool Locate(int32_t peak, int32_t count, const float* signal, bool clean, float& place,
                float* height = nullptr);

    // The sum of the logarithms of the two neighbours' shares of the peak for a finger d
    // (-0.5 .. 0.5) from the peak's electrode, by the shape and curvature learnt; by the
    // learnt table instead once it is trusted and reads under kNarrow of the peak one pitch
    // out.
    float NeighbourLogs(float d) const;

    int32_t Shape() const { return itsShape; }
    // Whether the shape has been chosen from enough clean frames for what it expects to count.
    bool Settled() const;
    // Whether the learnt profile table places the fingers (else the three-value fit does).
    bool TableTrusted() const { return itsTableTrusted; }
    // The bent profile against its vertex is Curvature() x^2; Model(x) is the profile itself,
    // 1 at the finger.
    float Curvature() const { return itsCurvature[static_cast<std::size_t>(itsShape)]; }
    float Model(float x) const;
    void Reset();

    // The learnt profile table: its step and reach (pitches), the frames a step must have had
    // before the table is trusted, and the most frames a step averages over.
    static constexpr float kTableStep = 1.0f / 16.0f;
    static constexpr int32_t kTableSteps = 48;  // out to three pitches
    static constexpr float kTableNeeded = 20.0f;
    static constexpr float kTableMemory = 400.0f;
    static constexpr int32_t kTableReach = 2;  // electrodes on either side of the peak fitted
    // The correction of the table's fit, by where it puts the finger between two electrodes.
    static constexpr int32_t kPhaseSteps = 32;
    static constexpr float kNarrow = 0.15f;

private:
    void Learn(int32_t peak, const float* signal);
    void LearnTable(int32_t peak, int32_t count, const float* signal, float place, float height);
    // The table's profile at a distance (pitches, either side).
    float TableAt(float distance) const;
    // Once the table is trusted: the finger placed again, near where the three-value fit put
    // it, by the least-squares fit of the table to the electrodes around the peak k.
    void Refine(int32_t k, int32_t count, const float* signal, bool clean, float& place,
                float& height);

    int32_t itsShape = kStartShape;
    // Per exponent: the recent squared error of its predictions, and its mean curvature
    // (negative; that of a Gaussian of 0.7 pitch to begin with).
    std::array<float, kShapes> itsError{};
    std::array<float, kShapes> itsCurvature{};
    int32_t itsLearnt = 0;
    int32_t itsSteady = 0;  // steady frames the curvature has learnt from, up to a limit
    std::array<float, kTableSteps + 1> itsTable{};
    std::array<float, kTableSteps + 1> itsTableFrames{};
    bool itsTableTrusted = false;
    std::array<float, kPhaseSteps + 1> itsPhase{};
    std::array<float, kPhaseSteps + 1> itsPhaseFrames{};
    bool itsPhaseTrusted = false;
};

}  // namespace kv
