// The speed-adaptive filter: a resting finger's noise is smoothed hard, a moving finger is
// followed closely, and a new touch starts where its finger is, averaging its first frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>

#include "driver/touch/one_euro_filter.h"

namespace kv {
namespace {

constexpr double kFrame = 0.01;  // 100 frames per second

TEST(OneEuroFilter, SmoothsARestingFingerAndFollowsAMovingOne) {
    OneEuroFilter resting;
    double spread = 0.0;
    for (int i = 0; i < 200; ++i) {
        // Noise of 0.002 of the foil either way, frame by frame.
        const double out = resting.Filter(0.5 + (i % 2 == 0 ? 0.002 : -0.002), kFrame);
        if (i >= 100) {
            spread = std::max(spread, std::fabs(out - 0.5));
        }
    }
    EXPECT_LT(spread, 0.0005);

    // Half the foil a second: once the speed is learnt, it trails by about a frame.
    OneEuroFilter moving;
    double trail = 0.0;
    for (int i = 0; i < 100; ++i) {
        const double finger = 0.1 + 0.005 * i;
        trail = finger - moving.Filter(finger, kFrame);
    }
    EXPECT_GT(trail, 0.0);
    EXPECT_LT(trail, 0.0075);  // 1.5 frames of motion

    // A new touch starts where its finger is, and its first frames are averaged, not left to
    // the first one's noise.
    moving.Reset();
    EXPECT_EQ(moving.Filter(0.9, kFrame), 0.9);
    EXPECT_NEAR(moving.Filter(0.904, kFrame), 0.902, 1e-4);
    EXPECT_NEAR(moving.Filter(0.902, kFrame), 0.902, 1e-4);

    // A finger that rests after landing is placed at the mean of its frames so far, for as
    // long as that weighs a frame more than the resting cutoff would (a still point's jitter).
    moving.Reset();
    double sum = 0.0;
    uint32_t seed = 12345;
    for (int i = 1; i <= 20; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noisy = 0.3 + 0.001 * (static_cast<double>(seed >> 8) / (1 << 24) - 0.5);
        sum += noisy;
        const double out = moving.Filter(noisy, kFrame);
        EXPECT_NEAR(out, sum / i, 2e-5) << "frame " << i;
    }
}

// A placement as noisy as a narrow finger's under glass (0.003 of the foil, frame by frame):
// the noise must not read as motion. A finger that rests is placed at the mean of its frames
// so far (for a second and a half, as a still finger beside a moving one needs), within a
// fraction of that mean's own standard error, and a moving one is still
// followed as closely as a clean one.
TEST(OneEuroFilter, ANoisyPlacementDoesNotOpenTheFilterOnARestingFinger) {
    constexpr double kNoise = 0.003;
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, kNoise);
    OneEuroFilter filter;
    // An earlier touch, resting: the filter learns the noise.
    for (int i = 0; i < 300; ++i) {
        filter.Filter(0.6 + noise(random), kFrame);
    }
    EXPECT_NEAR(std::sqrt(filter.Noise()), kNoise, 0.25 * kNoise);

    filter.Reset();
    double sum = 0.0;
    for (int i = 1; i <= 150; ++i) {
        const double noisy = 0.4 + noise(random);
        sum += noisy;
        const double out = filter.Filter(noisy, kFrame);
        if (i >= 5) {
            EXPECT_LT(std::fabs(out - sum / i), 0.25 * kNoise / std::sqrt(i)) << "frame " << i;
        }
    }

    filter.Reset();
    double trail = 0.0;
    for (int i = 0; i < 100; ++i) {
        const double finger = 0.1 + 0.005 * i;
        const double out = filter.Filter(finger + noise(random), kFrame);
        if (i >= 50) {
            trail += (finger - out) / 50.0;
        }
    }
    EXPECT_GT(trail, 0.0);
    EXPECT_LT(trail, 0.0075);  // 1.5 frames of motion
}

// A finger resting where it is placed four times as noisily as where the foil was touched for
// the last seconds: the noise must not be taken for motion, as it is with only the slow memory
// of the earlier touches to go on.
TEST(OneEuroFilter, ATouchLearnsTheNoiseOfItsOwnPlace) {
    std::mt19937 random(7);
    std::normal_distribution<double> unit(0.0, 1.0);
    OneEuroFilter filter;
    double distance = 0.0;  // the output's from the running mean, in its standard errors
    for (int touch = 0; touch < 48; ++touch) {
        filter.Reset();
        for (int i = 0; i < 300; ++i) {
            filter.Filter(0.6 + 0.0008 * unit(random), kFrame);
        }
        filter.Reset();
        double sum = 0.0;
        for (int i = 1; i <= 60; ++i) {
            const double noisy = 0.4 + 0.0032 * unit(random);
            sum += noisy;
            const double out = filter.Filter(noisy, kFrame);
            distance += i >= 5 ? std::fabs(out - sum / i) * std::sqrt(i) / 0.0032 : 0.0;
        }
    }
    EXPECT_LT(distance / (48 * 56), 0.025);
}

}  // namespace
}  // namespace kv
