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
    // (-0.5 .. 0.5) from the peak's electrode, by the shape and curvature learnt.
    float NeighbourLogs(float d) const;

    int32_t Shape() const { return itsShape; }
    // The bent profile against its vertex is Curvature() x^2; Model(x) is the profile itself,
    // 1 at the finger.
    float Curvature() const { return itsCurvature[static_cast<std::size_t>(itsShape)]; }
    float Model(float x) const;
    void Reset();

private:
    void Learn(int32_t peak, const float* signal);

    int32_t itsShape = kStartShape;
    // Per exponent: the recent squared error of its predictions, and its mean curvature
    // (negative; that of a Gaussian of 0.7 pitch to begin with).
    std::array<float, kShapes> itsError{};
    std::array<float, kShapes> itsCurvature{};
    int32_t itsLearnt = 0;
};

}  // namespace kv
