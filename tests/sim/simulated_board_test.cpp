// The simulated board: frame layout, report packing as the driver acquires it, fingers,
// wrapping, unplugging and looping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "driver/sim/simulated_board.h"
#include "tests/support/scenario_text.h"

using namespace kv::sim;
using kv::LayoutForModel;
using kv::SensorLayout;

namespace {

Scenario Quiet(const char* extra = "") {
    return kv::test::ScenarioOf(std::string("noise 0\ndrift 0\nbaseline 100\n") + extra);
}

// The driver's acquisition of one frame from the reports, written out independently.
std::vector<uint8_t> AcquireLikeDriver(const FrameReports& f, int mux) {
    std::vector<uint8_t> buffer(200, 0);
    if (mux >= 16 && mux <= 39) {
        std::copy(f.reports[0].begin(), f.reports[0].end(), buffer.begin());
        const int d = (40 - mux) / 2;
        for (int i = 1; i <= mux; ++i) {
            std::swap(buffer[i], buffer[i + d]);
        }
    } else if (mux >= 40 && mux <= 64) {
        std::copy(f.reports[0].begin(), f.reports[0].end(), buffer.begin());
    } else if (mux == 128) {
        for (int b = 1; b <= 64; ++b) {
            EXPECT_EQ(f.reports[0][b], b) << "sync report";
        }
        std::copy(f.reports[1].begin(), f.reports[1].end(), buffer.begin());
        const uint8_t kept = buffer[64];
        std::copy(f.reports[2].begin(), f.reports[2].end(), buffer.begin() + 64);
        buffer[64] = kept;
        std::reverse(buffer.begin() + 1, buffer.begin() + 129);
    }
    return std::vector<uint8_t>(buffer.begin() + 1, buffer.begin() + 1 + mux);
}

}  // namespace

TEST(SensorLayout, ElectrodesLandWhereTheSplitterLooksForThem) {
    SensorLayout l;
    l.muxSize = 64;
    l.split0 = 24;
    l.split1 = 16;
    l.flip0 = l.flip1 = l.flip2 = 0;
    EXPECT_EQ(l.CountX(), 48);
    EXPECT_EQ(l.CountY(), 16);
    EXPECT_EQ(l.SampleOfX(0), 0);
    EXPECT_EQ(l.SampleOfX(23), 23);
    EXPECT_EQ(l.SampleOfX(24), 40);
    EXPECT_EQ(l.SampleOfX(47), 63);
    EXPECT_EQ(l.SampleOfY(0), 24);
    EXPECT_EQ(l.SampleOfY(15), 39);
    l.flip2 = 1;
    EXPECT_EQ(l.SampleOfX(24), 63);
    EXPECT_EQ(l.SampleOfX(47), 40);
    EXPECT_EQ(l.SampleOfX(0), 0);
    l.flip0 = l.flip1 = 1;
    EXPECT_EQ(l.SampleOfX(0), 23);
    EXPECT_EQ(l.SampleOfY(0), 39);
    l.split1 = 5;
    EXPECT_FALSE(l.Valid());
}

TEST(SensorLayout, StandardModels) {
    auto b64 = LayoutForModel("B64");
    ASSERT_TRUE(b64);
    EXPECT_EQ(b64->split0, 12);
    EXPECT_EQ(b64->split1, 40);
    EXPECT_EQ(b64->muxSize, 64);
    EXPECT_EQ(b64->flip2, 1);
    for (const char* name :
         {"S16", "B16", "S24", "B24", "S32", "B32", "S40", "B40", "S64", "B64", "S128", "B128"}) {
        auto l = LayoutForModel(name);
        ASSERT_TRUE(l) << name;
        EXPECT_EQ(l->muxSize, 2 * l->split0 + l->split1) << name;
        EXPECT_TRUE(l->Valid()) << name;
    }
}

TEST(PackFrame, TheDriversAcquisitionGetsTheFrameBack) {
    for (int mux : {16, 20, 30, 39, 40, 64, 128}) {
        std::vector<uint8_t> samples(static_cast<size_t>(mux));
        for (int i = 0; i < mux; ++i) {
            samples[static_cast<size_t>(i)] = static_cast<uint8_t>(7 * i + 3);
        }
        const FrameReports f = PackFrame(mux, samples.data());
        ASSERT_EQ(f.count, mux == 128 ? 3 : 1) << mux;
        EXPECT_EQ(AcquireLikeDriver(f, mux), samples) << "mux " << mux;
    }
    // Sizes the board cannot send give no report.
    std::vector<uint8_t> samples(256, 1);
    EXPECT_EQ(PackFrame(8, samples.data()).count, 0);
    EXPECT_EQ(PackFrame(100, samples.data()).count, 0);
}

TEST(PackFrame, MuxTwentyIsCentredInForty) {
    std::vector<uint8_t> samples(20, 0xAB);
    const FrameReports f = PackFrame(20, samples.data());
    EXPECT_EQ(f.reports[0][10], 0);
    EXPECT_EQ(f.reports[0][11], 0xAB);  // bytes 11..30 carry the frame
    EXPECT_EQ(f.reports[0][30], 0xAB);
    EXPECT_EQ(f.reports[0][31], 0);
}

TEST(SimulatedBoard, FingerRaisesTheElectrodesAtItsPosition) {
    SimulatedBoard board(Quiet("layout B64\nat 0 down 1 0.25 0.5 30\n"));
    ASSERT_TRUE(board.AdvanceTo(0.0));
    const SensorLayout& l = board.Layout();
    std::vector<uint8_t> samples(64);
    board.Render(samples.data());
    // X: 24 electrodes, the finger at 0.25 x 23 = 5.75; Y: 40 electrodes, at 0.5 x 39 = 19.5.
    int bestX = 0;
    for (int k = 0; k < l.CountX(); ++k) {
        EXPECT_EQ(samples[static_cast<size_t>(l.SampleOfX(k))],
                  static_cast<uint8_t>(std::lround(board.Level(0, k))));
        if (board.Level(0, k) > board.Level(0, bestX)) {
            bestX = k;
        }
    }
    EXPECT_EQ(bestX, 6);
    EXPECT_NEAR(board.Level(0, 6), 100 + 30 * std::exp(-0.5 * (0.25 / 0.7) * (0.25 / 0.7)), 1e-9);
    EXPECT_NEAR(board.Level(1, 19), board.Level(1, 20), 1e-9) << "symmetric about 19.5";
    EXPECT_NEAR(board.Level(1, 0), 100.0, 1e-6) << "far electrodes keep their rest count";
}

TEST(SimulatedBoard, ReadingsWrapModulo256) {
    SimulatedBoard board(Quiet("layout S40\nbaseline 250\nat 0 down 1 0.5 0.5 30\n"));
    board.AdvanceTo(0.0);
    std::vector<uint8_t> samples(40);
    board.Render(samples.data());
    const SensorLayout& l = board.Layout();
    const int centre = (l.CountX() - 1) / 2;
    const double level = board.Level(0, centre);
    ASSERT_GT(level, 256.0);
    EXPECT_EQ(samples[static_cast<size_t>(l.SampleOfX(centre))],
              static_cast<uint8_t>(std::lround(level) - 256));
}

TEST(SimulatedBoard, MovesUnplugAndLoop) {
    SimulatedBoard board(
        Quiet("layout S64\nat 1 down 1 0 0\nat 1 move 1 1 1 2\nat 4 up 1\n"
              "at 5 unplug\nat 6 replug\nat 7 end\nloop\n"));
    const int last = board.Layout().CountX() - 1;
    auto peakX = [&] {
        int best = 0;
        for (int k = 0; k <= last; ++k) {
            if (board.Level(0, k) > board.Level(0, best)) {
                best = k;
            }
        }
        return best;
    };
    EXPECT_TRUE(board.AdvanceTo(0.5));
    EXPECT_NEAR(board.Level(0, 0), 100.0, 1e-6) << "no finger yet";
    board.AdvanceTo(2.0);  // halfway along the move
    EXPECT_NEAR(peakX(), last / 2.0, 0.5);
    board.AdvanceTo(3.5);
    EXPECT_EQ(peakX(), last);
    EXPECT_TRUE(board.AdvanceTo(4.5));
    EXPECT_NEAR(board.Level(0, last), 100.0, 1e-6) << "lifted";
    EXPECT_FALSE(board.AdvanceTo(5.5)) << "unplugged";
    EXPECT_EQ(board.FrameAt(5.6).count, 0);
    EXPECT_TRUE(board.AdvanceTo(6.5));
    EXPECT_TRUE(board.AdvanceTo(7.2)) << "stays attached after the end";
    board.AdvanceTo(8.02);  // second pass, just after the finger went down at the start
    EXPECT_GT(board.Level(0, 0), 120.0);
}

TEST(SimulatedBoard, FollowsTheDriversLayoutWithoutItsOwn) {
    SimulatedBoard board(Quiet());
    EXPECT_FALSE(board.HasOwnLayout());
    SensorLayout l = *LayoutForModel("S128");
    board.SetLayout(l);
    EXPECT_EQ(board.FrameAt(0.0).count, 3);
    SimulatedBoard fixed(Quiet("layout B40\n"));
    fixed.SetLayout(l);
    EXPECT_EQ(fixed.Layout().muxSize, 40) << "a scenario's own layout wins";
}

TEST(SimulatedBoard, NoiseHasTheAskedSpreadAndRepeatsWithTheSeed) {
    ScenarioError error;
    auto s = ParseScenario("layout B64\nnoise 2\ndrift 0\nbaseline 100\nseed 5\n", error);
    ASSERT_TRUE(s);
    SimulatedBoard a(*s), b(*s);
    double sum = 0, sumSq = 0;
    int n = 0;
    std::vector<uint8_t> fa(64), fb(64);
    for (int frame = 0; frame < 200; ++frame) {
        a.AdvanceTo(frame * 0.01);
        b.AdvanceTo(frame * 0.01);
        a.Render(fa.data());
        b.Render(fb.data());
        ASSERT_EQ(fa, fb);
        for (uint8_t v : fa) {
            sum += v - 100.0;
            sumSq += (v - 100.0) * (v - 100.0);
            ++n;
        }
    }
    const double mean = sum / n;
    const double sd = std::sqrt(sumSq / n - mean * mean);
    EXPECT_NEAR(mean, 0.0, 0.1);
    EXPECT_NEAR(sd, 2.0, 0.15);
}

// Recordings, tests and quality figures depend on today's random sequence: a scenario without
// the foil-model lines renders these very samples.
TEST(SimulatedBoard, ScenarioWithoutFoilModelRendersTheSameSamples) {
    ScenarioError error;
    auto s = ParseScenario(
        "layout S40\nnoise 2\nseed 9\nat 0 down 1 0.4 0.6 50\nat 0 move 1 0.6 0.3 1\n", error);
    ASSERT_TRUE(s) << error.Text();
    SimulatedBoard board(*s);
    std::vector<int> got;
    std::vector<uint8_t> samples(40);
    for (double t : {0.0, 0.5, 1.0}) {
        board.AdvanceTo(t);
        board.Render(samples.data());
        for (int k : {0, 5, 6, 7, 8, 9}) {
            got.push_back(samples[static_cast<size_t>(board.Layout().SampleOfX(k))]);
        }
    }
    const std::vector<int> pinned = {101, 72, 46,  62, 99, 197, 96, 71, 49,
                                     66,  90, 150, 99, 71, 49,  64, 94, 149};
    EXPECT_EQ(got, pinned);
}

namespace {

// The finger signal at lateral distance d from X electrode 0 of a finger of strength 100.
double SignalAt(SimulatedBoard& board, double d, double size = 0.0) {
    ScenarioEvent down{.verb = ScenarioEvent::Verb::Down, .strength = 100.0, .size = size};
    down.x = d / (board.Layout().CountX() - 1);
    board.ApplyNow(down);
    return (board.Level(0, 0) - 100.0) / 100.0;
}

// The contact's coupling integrated numerically over the disc (u = r sin a), relative to d = 0.
double ContactIntegral(double d, double size, double glass) {
    auto at = [r = size / 2.0, glass](double distance) {
        double sum = 0.0;
        for (double a = -M_PI / 2 + 1e-4; a < M_PI / 2; a += 2e-4) {
            const double x = distance - r * std::sin(a);
            sum += r * r * std::cos(a) * std::cos(a) / (glass * glass + x * x);
        }
        return sum;
    };
    return at(d) / at(0.0);
}

// Per electrode (X, then Y) at time t: what a foil-model line changes against the same
// scenario without it, as the ratio of the finger signals or the difference of the levels.
std::vector<double> Against(const std::string& model, double t, bool ratio) {
    const std::string base = "layout B64\nwidth 10\nat 0 down 1 0.25 0.5\n";
    SimulatedBoard plain(Quiet(base.c_str())), board(Quiet((base + model).c_str()));
    plain.AdvanceTo(t);
    board.AdvanceTo(t);
    std::vector<double> out;
    for (int axis : {0, 1}) {
        for (int k = 0; k < (axis == 0 ? 24 : 40); ++k) {
            const double p = plain.Level(axis, k), b = board.Level(axis, k);
            out.push_back(ratio ? (b - 100.0) / (p - 100.0) : b - p);
        }
    }
    return out;
}

}  // namespace

TEST(SimulatedBoard, ProfilesByDistance) {
    SimulatedBoard gauss(Quiet("layout B64\nwidth 1\n"));
    SimulatedBoard lorentz(Quiet("layout B64\nwidth 1\nprofile lorentzian\n"));
    EXPECT_NEAR(SignalAt(gauss, 2.0), std::exp(-2.0), 1e-9);
    EXPECT_NEAR(SignalAt(lorentz, 2.0), 0.2, 1e-9) << "heavier tails at two widths";
    EXPECT_NEAR(SignalAt(lorentz, 2.0, 2.0), 0.5, 1e-9) << "an object's size is its width";
    SimulatedBoard contact(Quiet("layout B64\nprofile finger 1 0.5\n"));
    EXPECT_NEAR(SignalAt(contact, 0.0), 1.0, 1e-9);
    double last = 1.0;
    for (double d = 0.01; d < 23.0; d += 0.01) {
        const double p = SignalAt(contact, d);
        ASSERT_TRUE(p < last && p > 0.0) << "falls monotonically, at " << d;
        last = p;
    }
    for (double d : {0.3, 1.0, 2.5, 10.0}) {
        EXPECT_NEAR(SignalAt(contact, d), ContactIntegral(d, 1.0, 0.5), 5e-5) << d;
        EXPECT_NEAR(SignalAt(contact, d, 2.8), ContactIntegral(d, 2.8, 0.5), 5e-5) << "palm " << d;
    }
}

TEST(SimulatedBoard, GainsDeadElectrodesAndRise) {
    const auto gains = Against("gain 0.3\n", 0.0, true);
    const auto [low, high] = std::minmax_element(gains.begin(), gains.end());
    EXPECT_TRUE(*low >= 0.7 - 1e-9 && *high <= 1.3 + 1e-9 && *high - *low > 0.3);
    EXPECT_EQ(Against("gain 0.3\n", 0.0, true), gains) << "the same with the seed";
    EXPECT_NE(Against("gain 0.3\nseed 2\n", 0.0, true), gains);
    const auto dead = Against("dead x 6\n", 0.0, true);
    EXPECT_EQ(dead[6], 0.0) << "no finger signal";
    EXPECT_EQ(std::count(dead.begin(), dead.end(), 1.0), 63) << "the others as they were";
    for (double rise : Against("rise 6\n", 600.0, false)) {  // 60 counts times 0.5 to 1.5
        EXPECT_TRUE(rise >= 30.0 - 1e-9 && rise <= 90.0 + 1e-9) << rise;
    }
}

TEST(SimulatedBoard, CommonNoiseHumAndNoisyElectrodes) {
    // Common noise and hum move all electrodes of an axis alike; a noisy one moves alone.
    for (const char* model : {"common 5\n", "hum 10 7\n", "noisy x 3 5\nnoisy y 2 5\n"}) {
        const bool alike = model[0] != 'n';
        SimulatedBoard board(Quiet((std::string("layout B64\n") + model).c_str()));
        const SensorLayout& l = board.Layout();
        std::vector<uint8_t> samples(64);
        std::vector<int> xs, ys;  // the moving readings, frame by frame
        for (int frame = 0; frame < 50; ++frame) {
            board.AdvanceTo(frame * 0.01);
            board.Render(samples.data());
            xs.push_back(samples[l.SampleOfX(alike ? 0 : 3)]);
            ys.push_back(samples[l.SampleOfY(alike ? 0 : 2)]);
            for (int k = 0; k < 64; ++k) {
                const bool isX = k < l.CountX(), moving = isX ? k == 3 : k - l.CountX() == 2;
                const int sample = isX ? l.SampleOfX(k) : l.SampleOfY(k - l.CountX());
                if (alike || !moving) {
                    ASSERT_EQ(samples[sample], alike ? (isX ? xs : ys).back() : 100) << model;
                }
            }
        }
        EXPECT_GT(std::set<int>(xs.begin(), xs.end()).size(), 3u) << model;
        EXPECT_GT(std::set<int>(ys.begin(), ys.end()).size(), 3u) << model;
        EXPECT_NE(xs, ys) << model << " each axis its own";
    }
}
