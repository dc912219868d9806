// The profile fit learns the finger shape a foil shows and places fingers on it, edges included.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>

#include "driver/dsp/profile_fit.h"

namespace kv {
namespace {

constexpr int32_t kCount = 24;

struct Foil {
    const char* name;
    std::function<double(double)> profile;  // of the distance in pitches
    int32_t shape;                          // the exponent that fits it exactly, -1: none does
};

std::array<float, kCount> Render(const Foil& foil, double at, double strength = 30.0) {
    std::array<float, kCount> s{};
    for (int32_t k = 0; k < kCount; ++k) {
        s[static_cast<size_t>(k)] = static_cast<float>(strength * foil.profile(k - at));
    }
    return s;
}

int32_t PeakOf(const std::array<float, kCount>& s) {
    int32_t k = 0;
    for (int32_t j = 1; j < kCount; ++j) {
        k = s[static_cast<size_t>(j)] > s[static_cast<size_t>(k)] ? j : k;
    }
    return k;
}

TEST(ProfileFitTest, LearnsEachFoilsShapeAndPlacesItsFingersUpToTheEdges) {
    const Foil foils[] = {
        {"gaussian 0.7", [](double d) { return std::exp(-0.5 * d * d / 0.49); }, 2},
        {"gaussian 1.1", [](double d) { return std::exp(-0.5 * d * d / 1.21); }, 2},
        {"lorentzian 0.5", [](double d) { return 1.0 / (1.0 + d * d / 0.25); }, 4},
        {"lorentzian 0.9", [](double d) { return 1.0 / (1.0 + d * d / 0.81); }, 4},
        {"flat top", [](double d) { return 1.0 / (1.0 + std::pow(d / 0.8, 4.0)); }, -1},
    };
    for (const Foil& foil : foils) {
        SCOPED_TRACE(foil.name);
        ProfileFit fit;
        float place = 0.0f;
        // A finger moving to and fro over the middle teaches the shape.
        for (int32_t frame = 0; frame < 600; ++frame) {
            const double at = 4.0 + 16.0 * (0.5 + 0.5 * std::sin(frame * 0.05));
            const auto s = Render(foil, at);
            ASSERT_TRUE(fit.Locate(PeakOf(s), kCount, s.data(), true, place));
        }
        if (foil.shape >= 0) {
            EXPECT_EQ(fit.Shape(), foil.shape);
        }
        double inside = 0.0;
        for (double at = 1.0; at <= kCount - 2.0; at += 0.05) {
            const auto s = Render(foil, at);
            ASSERT_TRUE(fit.Locate(PeakOf(s), kCount, s.data(), false, place));
            inside = std::max(inside, std::fabs(place - at));
        }
        EXPECT_LT(inside, foil.shape >= 0 ? 0.005 : 0.05);
        // On the outermost electrode and half a pitch in, at both ends.
        for (const double from : {0.0, 0.25, 0.45}) {
            for (const double at : {from, kCount - 1.0 - from}) {
                const auto s = Render(foil, at);
                ASSERT_TRUE(fit.Locate(PeakOf(s), kCount, s.data(), false, place));
                EXPECT_NEAR(place, at, 0.08) << "finger at " << at;
            }
        }
    }
}

TEST(ProfileFitTest, TwoFingersOrNoSignalTeachNothing) {
    ProfileFit fit;
    float place = -1.0f;
    std::array<float, kCount> flat{};
    EXPECT_FALSE(fit.Locate(5, kCount, flat.data(), true, place));
    EXPECT_FALSE(fit.Locate(kCount, kCount, flat.data(), true, place));
    EXPECT_EQ(place, -1.0f);
    // A Lorentzian finger seen only in frames not clean enough to learn from keeps the start.
    const Foil lorentz{"", [](double d) { return 1.0 / (1.0 + d * d / 0.25); }, 4};
    for (int32_t frame = 0; frame < 600; ++frame) {
        const auto s = Render(lorentz, 6.0 + (frame % 50) * 0.2);
        ASSERT_TRUE(fit.Locate(PeakOf(s), kCount, s.data(), false, place));
    }
    EXPECT_EQ(fit.Shape(), ProfileFit::kStartShape);
}

}  // namespace
}  // namespace kv
