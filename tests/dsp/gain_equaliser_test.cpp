// The gain equaliser learns unequal electrodes from fingers drawn over them and evens them out.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "driver/dsp/gain_equaliser.h"
#include "driver/dsp/profile_fit.h"

namespace kv {
namespace {

constexpr int32_t kCount = 24;

struct Foil {
    const char* name;
    double (*profile)(double);
};

double Gaussian(double d) {
    return std::exp(-0.5 * d * d / 0.49);
}
double Lorentzian(double d) {
    return 1.0 / (1.0 + d * d / 0.36);
}

// A foil whose electrodes read up to 15 % strong or weak, with noise, placed through the
// profile fit, with and without the equaliser; the fit learns all along.
class Rig {
public:
    Rig(const Foil& foil, bool equalise) : itsFoil(foil), itsEqualise(equalise) {
        std::uniform_real_distribution<double> spread(0.85, 1.15);
        for (double& g : itsGain) {
            g = spread(itsRandom);
        }
    }
    float Place(double at, bool learn) {
        std::array<float, kCount> s{};
        for (int32_t k = 0; k < kCount; ++k) {
            s[static_cast<size_t>(k)] = static_cast<float>(30.0 * itsGain[static_cast<size_t>(k)] *
                                                               itsFoil.profile(k - at) +
                                                           itsNoise(itsRandom));
        }
        if (itsEqualise) {
            itsGains.Apply(kCount, s.data());
        }
        const auto peak = static_cast<int32_t>(std::max_element(s.begin(), s.end()) - s.begin());
        float place = 0.0f;
        EXPECT_TRUE(itsFit.Locate(peak, kCount, s.data(), learn, place));
        if (learn && itsEqualise) {
            const auto k = static_cast<int32_t>(std::lround(place));
            const float d = place - static_cast<float>(k);
            itsGains.Learn(kCount, k, d, s.data(), itsFit.NeighbourLogs(d), 0.25f);
        }
        return place;
    }
    const GainEqualiser& Gains() const { return itsGains; }

private:
    const Foil& itsFoil;
    bool itsEqualise;
    std::mt19937 itsRandom{11};
    std::normal_distribution<double> itsNoise{0.0, 0.5};
    std::array<double, kCount> itsGain{};
    ProfileFit itsFit;
    GainEqualiser itsGains;
};

// The 95th percentile of the error of still fingers over the inside, each the mean of 20 frames.
double StillError(Rig& rig) {
    std::vector<double> errors;
    for (double at = 1.0; at <= kCount - 2.0; at += 0.05) {
        double sum = 0.0;
        for (int frame = 0; frame < 20; ++frame) {
            sum += rig.Place(at, false);
        }
        errors.push_back(std::fabs(sum / 20.0 - at));
    }
    std::sort(errors.begin(), errors.end());
    return errors[errors.size() * 95 / 100];
}

TEST(GainEqualiserTest, LearnsFromAFingerDrawnOverTheFoilAndHalvesTheError) {
    const Foil foils[] = {{"gaussian", Gaussian}, {"lorentzian", Lorentzian}};
    for (const Foil& foil : foils) {
        SCOPED_TRACE(foil.name);
        Rig plain(foil, false);
        Rig equalised(foil, true);
        for (int32_t frame = 0; frame < 20000; ++frame) {
            const double at = 1.0 + 21.0 * (0.5 + 0.5 * std::sin(frame * 0.0137));
            plain.Place(at, true);
            equalised.Place(at, true);
            if (frame == 200) {
                EXPECT_FALSE(equalised.Gains().Trusted())
                    << "trusted before fingers were everywhere";
            }
        }
        EXPECT_TRUE(equalised.Gains().Trusted());
        const double before = StillError(plain);
        const double after = StillError(equalised);
        EXPECT_GT(before, 0.04);
        EXPECT_LT(after, before / 2.0);
    }
}

}  // namespace
}  // namespace kv
