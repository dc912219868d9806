// The precise path's placing of a finger on one axis: the profile fit learns the finger shape a
// foil shows and places fingers on it up to the edges, and the gain equaliser learns unequal
// electrodes from a finger drawn over them and evens them out.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <random>
#include <utility>
#include <vector>

#include "driver/dsp/gain_equaliser.h"
#include "driver/dsp/profile_fit.h"

namespace kv {
namespace {

constexpr int32_t kCount = 24;

struct Foil {
    const char* name;
    double (*profile)(double);  // of the distance in pitches
    int32_t shape;              // the exponent that fits it exactly, -1: none does
};

double Gaussian07(double d) {
    return std::exp(-0.5 * d * d / 0.49);
}
double Gaussian11(double d) {
    return std::exp(-0.5 * d * d / 1.21);
}
double Lorentzian05(double d) {
    return 1.0 / (1.0 + d * d / 0.25);
}
double Lorentzian09(double d) {
    return 1.0 / (1.0 + d * d / 0.81);
}
double FlatTop(double d) {
    return 1.0 / (1.0 + std::pow(d / 0.8, 4.0));
}
// A round contact of 0.6 pitch under 0.3 pitch of glass: a sharp core over tails that none of
// the fit's exponents follows out to two pitches. Its coupling to a line electrode d away is
// Im(r^2 / (z + sqrt(z - r) sqrt(z + r))) with z = d - ih, up to a constant.
double UnderGlass(double d) {
    const auto coupling = [](double x) {
        constexpr double r = 0.3;
        constexpr double h = 0.3;
        const std::complex<double> z(std::fabs(x), -h);
        return std::imag(r * r / (z + std::sqrt(z - r) * std::sqrt(z + r)));
    };
    return coupling(d) / coupling(0.0);
}

// One axis of a foil whose electrodes read up to `spread` strong or weak, with noise, placed
// through the profile fit and, when asked, the equaliser; the fit learns from `learn` frames.
class Rig {
public:
    // filled: an electrode that reads nothing, filled in with its neighbours' mean.
    Rig(const Foil& foil, double spread, double noise, bool equalise, int32_t filled = -1)
        : itsFoil(foil),
          itsNoise(0.0, noise > 0.0 ? noise : 1e-9),
          itsEqualise(equalise),
          itsFilled(filled) {
        std::uniform_real_distribution<double> gains(1.0 - spread, 1.0 + spread);
        for (double& g : itsGain) {
            g = gains(itsRandom);
        }
    }
    float Place(double at, bool learn) {
        std::array<float, kCount> s{};
        for (int32_t k = 0; k < kCount; ++k) {
            const auto u = static_cast<size_t>(k);
            s[u] = static_cast<float>(30.0 * itsGain[u] * itsFoil.profile(k - at) +
                                      itsNoise(itsRandom));
        }
        if (itsFilled > 0) {
            const auto u = static_cast<size_t>(itsFilled);
            s[u] = (s[u - 1] + s[u + 1]) / 2.0f;
        }
        if (itsEqualise) {
            itsGains.Apply(kCount, s.data());
        }
        const auto peak = static_cast<int32_t>(std::max_element(s.begin(), s.end()) - s.begin());
        float place = -1.0f;
        EXPECT_TRUE(itsFit.Locate(peak, kCount, s.data(), learn, place));
        // The peak finder teaches the gains once the shape has been chosen.
        if (learn && itsEqualise && itsFit.Settled()) {
            const auto k = static_cast<int32_t>(std::lround(place));
            const float d = place - static_cast<float>(k);
            itsGains.Learn(kCount, k, d, s.data(), itsFit.NeighbourLogs(d), 0.25f);
        }
        return place;
    }
    // A finger drawn to and fro over the axis.
    void Use(int32_t frames, int32_t trustCheck = -1) {
        for (int32_t frame = 0; frame < frames; ++frame) {
            Place(1.0 + 21.0 * (0.5 + 0.5 * std::sin(frame * 0.0137)), true);
            if (frame == trustCheck) {
                EXPECT_FALSE(itsGains.Trusted()) << "trusted before fingers were everywhere";
            }
        }
    }
    // The 95th percentile of the error of still fingers over the inside, each the mean of
    // `frames` frames.
    double StillError(int32_t frames) {
        std::vector<double> errors;
        for (double at = 1.0; at <= kCount - 2.0; at += 0.05) {
            double sum = 0.0;
            for (int32_t frame = 0; frame < frames; ++frame) {
                sum += Place(at, false);
            }
            errors.push_back(std::fabs(sum / frames - at));
        }
        std::sort(errors.begin(), errors.end());
        return errors[errors.size() * 95 / 100];
    }
    const ProfileFit& Fit() const { return itsFit; }
    const GainEqualiser& Gains() const { return itsGains; }

private:
    const Foil& itsFoil;
    std::mt19937 itsRandom{11};
    std::normal_distribution<double> itsNoise;
    bool itsEqualise;
    int32_t itsFilled;
    std::array<double, kCount> itsGain{};
    ProfileFit itsFit;
    GainEqualiser itsGains;
};

TEST(ProfileFitTest, LearnsEachFoilsShapeAndPlacesItsFingersUpToTheEdges) {
    const Foil foils[] = {{"gaussian 0.7", Gaussian07, 2},
                          {"gaussian 1.1", Gaussian11, 2},
                          {"lorentzian 0.5", Lorentzian05, 4},
                          {"lorentzian 0.9", Lorentzian09, 4},
                          {"flat top", FlatTop, -1}};
    for (const Foil& foil : foils) {
        SCOPED_TRACE(foil.name);
        Rig rig(foil, 0.0, 0.0, false);
        rig.Use(600);
        if (foil.shape >= 0) {
            EXPECT_EQ(rig.Fit().Shape(), foil.shape);
        }
        EXPECT_LT(rig.StillError(1), foil.shape >= 0 ? 0.005 : 0.05);
        // On the outermost electrode and up to half a pitch in, at both ends.
        for (const double from : {0.0, 0.25, 0.45}) {
            for (const double at : {from, kCount - 1.0 - from}) {
                EXPECT_NEAR(rig.Place(at, false), at, 0.08) << "finger at " << at;
            }
        }
    }
    std::array<float, kCount> flat{};
    float place = -1.0f;
    EXPECT_FALSE(ProfileFit().Locate(5, kCount, flat.data(), true, place));
}

// A still finger on a foil whose neighbours read a small share of the peak: each frame's place
// must spread within a few times the least any unbiased placement can (the Cramer-Rao bound of
// the simulated noise: its deviation against how fast the readings change with the finger's
// place; the three-value fit alone spreads six times that a quarter pitch off an electrode),
// and their mean must stay on the finger (a place pulled towards the electrode would spread
// less by being wrong). Either side of an electrode, it must spread within a little of the
// bound for place and height together (the height is not known either): the table's fit
// searches both ways from the three-value fit's place, which spreads twice as far.
TEST(ProfileFitTest, PlacesAStillFingerUnderGlassNearTheNoiseBound) {
    constexpr double kNoise = 0.5;
    const Foil foil{"under glass", UnderGlass, -1};
    Rig rig(foil, 0.0, kNoise, false);
    rig.Use(6000);
    EXPECT_TRUE(rig.Fit().TableTrusted());
    for (const double offset : {-0.375, -0.25, 0.25, 0.375, 0.5}) {
        const double at = 11.0 + offset;
        SCOPED_TRACE(at);
        double information = 0.0;
        double withHeight = 0.0;  // of place and height, readings 30 h profile(k - x)
        double ofHeight = 0.0;
        for (int32_t k = 0; k < kCount; ++k) {
            constexpr double kStep = 1e-4;
            const double slope =
                30.0 * (foil.profile(k - at - kStep) - foil.profile(k - at + kStep)) / (2 * kStep);
            information += slope * slope / (kNoise * kNoise);
            withHeight += slope * 30.0 * foil.profile(k - at) / (kNoise * kNoise);
            ofHeight += std::pow(30.0 * foil.profile(k - at) / kNoise, 2.0);
        }
        const double bound = 1.0 / std::sqrt(information);
        const double jointBound =
            std::sqrt(ofHeight / (information * ofHeight - withHeight * withHeight));
        constexpr int32_t kFrames = 2000;
        double sum = 0.0;
        double squares = 0.0;
        for (int32_t frame = 0; frame < kFrames; ++frame) {
            const double place = rig.Place(at, false);
            sum += place;
            squares += place * place;
        }
        const double mean = sum / kFrames;
        const double spread = std::sqrt(std::max(0.0, squares / kFrames - mean * mean));
        EXPECT_LT(spread, 4.0 * bound);
        EXPECT_LT(spread, 1.25 * jointBound);
        EXPECT_NEAR(mean, at, 0.025);
    }
}

// The equaliser halves the error where the shapes fit the foil, and cuts it by a third under
// glass, whose neighbours read a tenth of the peak and whose tails only the learnt table follows.
TEST(GainEqualiserTest, LearnsFromAFingerDrawnOverTheFoilAndCutsTheError) {
    const std::pair<Foil, double> foils[] = {{{"gaussian", Gaussian07, 2}, 2.0},
                                             {{"lorentzian", Lorentzian09, 4}, 2.0},
                                             {{"under glass", UnderGlass, -1}, 1.5}};
    for (const auto& [foil, cut] : foils) {
        SCOPED_TRACE(foil.name);
        Rig plain(foil, 0.15, 0.5, false);
        Rig equalised(foil, 0.15, 0.5, true);
        plain.Use(20000);
        equalised.Use(20000, 200);
        EXPECT_TRUE(equalised.Gains().Trusted());
        const double before = plain.StillError(20);
        const double after = equalised.StillError(20);
        EXPECT_GT(before, 0.04);
        EXPECT_LT(after, before / cut);
    }
}

// A wide finger's gains, learnt over a short use as the foil is first touched: the width the
// fit starts from (a narrower finger's) must not stay in what the neighbours are expected to
// read, or it bends the gains learnt first and with them the fingers placed there.
TEST(GainEqualiserTest, LearnsAWideFingersGainsOverAShortUse) {
    const Foil foil{"gaussian 1.1", Gaussian11, 2};
    Rig plain(foil, 0.1, 0.5, false);
    Rig equalised(foil, 0.1, 0.5, true);
    plain.Use(3000);
    equalised.Use(3000);
    EXPECT_NEAR(equalised.Fit().Curvature(), -0.5 / 1.21, 0.01);
    ASSERT_TRUE(equalised.Gains().Trusted());
    const double before = plain.StillError(20);
    const double after = equalised.StillError(20);
    EXPECT_LT(after, before / 2.0);
}

// A dead electrode filled in from its neighbours is found by its noise, and the peaks beside it
// do not learn the fill's bend as gains (the foil's gains are all equal).
TEST(GainEqualiserTest, FindsAFilledElectrodeAndLearnsNoGainsFromIt) {
    constexpr int32_t kDead = 12;
    const Foil foil{"gaussian", Gaussian07, 2};  // the rig keeps a reference to it
    Rig rig(foil, 0.0, 0.5, true, kDead);
    rig.Use(20000);
    ASSERT_TRUE(rig.Gains().Trusted());
    for (int32_t i = 0; i < kCount; ++i) {
        EXPECT_EQ(rig.Gains().Filled(i), i == kDead) << "electrode " << i;
        EXPECT_NEAR(rig.Gains().Gain(i), 1.0f, 0.03f) << "electrode " << i;
    }
}

}  // namespace
}  // namespace kv
