// The simulated board: frame layout, report packing as the driver acquires it, fingers,
// wrapping, unplugging and looping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "driver/sim/simulated_board.h"

using namespace kv::sim;
using kv::LayoutForModel;
using kv::SensorLayout;

namespace {

Scenario Quiet(const char* extra = "") {
    ScenarioError error;
    std::string text = std::string("noise 0\ndrift 0\nbaseline 100\n") + extra;
    auto s = ParseScenario(text, error);
    EXPECT_TRUE(s) << error.Text();
    return *s;
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

// The finger signal at lateral distance d of a finger of strength 100 (rest 100), placed live.
double SignalAt(SimulatedBoard& board, double d, double size = 0.0) {
    ScenarioEvent down;
    down.verb = ScenarioEvent::Verb::Down;
    down.strength = 100.0;
    down.size = size;
    down.x = d / (board.Layout().CountX() - 1);
    board.ApplyNow(down);
    return (board.Level(0, 0) - 100.0) / 100.0;
}

// The contact's coupling integrated numerically over the disc (u = r sin a), relative to d = 0.
double ContactIntegral(double d, double size, double glass) {
    const double r = size / 2.0;
    auto at = [&](double distance) {
        const int n = 20000;
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            const double a = -M_PI / 2 + M_PI * (i + 0.5) / n;
            const double x = distance - r * std::sin(a);
            sum += r * r * std::cos(a) * std::cos(a) / (glass * glass + x * x);
        }
        return sum;
    };
    return at(d) / at(0.0);
}

}  // namespace

TEST(SimulatedBoard, ProfilesByDistance) {
    SimulatedBoard gauss(Quiet("layout B64\nwidth 1\n"));
    SimulatedBoard lorentz(Quiet("layout B64\nwidth 1\nprofile lorentzian\n"));
    EXPECT_NEAR(SignalAt(gauss, 2.0), std::exp(-2.0), 1e-9);
    EXPECT_NEAR(SignalAt(lorentz, 2.0), 0.2, 1e-9) << "heavier tails at two widths";
    EXPECT_NEAR(SignalAt(lorentz, 2.0, 2.0), 0.5, 1e-9) << "an object's size is its width";
    EXPECT_NEAR(SignalAt(gauss, 3.0, 3.0), std::exp(-0.5), 1e-9);

    SimulatedBoard contact(Quiet("layout B64\nprofile finger 1 0.5\n"));
    EXPECT_NEAR(SignalAt(contact, 0.0), 1.0, 1e-9);
    double last = 1.0;
    for (double d = 0.01; d < 23.0; d += 0.01) {
        const double p = SignalAt(contact, d);
        ASSERT_LT(p, last) << "falls monotonically, at " << d;
        ASSERT_GT(p, 0.0) << d;
        last = p;
    }
    for (double d : {0.3, 1.0, 2.5, 10.0}) {
        EXPECT_NEAR(SignalAt(contact, d), ContactIntegral(d, 1.0, 0.5), 5e-5) << d;
        EXPECT_NEAR(SignalAt(contact, d, 2.8), ContactIntegral(d, 2.8, 0.5), 5e-5) << "palm " << d;
    }
}

TEST(SimulatedBoard, GainsDifferPerElectrodeWithinTheSpreadAndRepeatWithTheSeed) {
    const char* fingers = "layout B64\nwidth 10\nat 0 down 1 0.5 0.5\n";
    auto gains = [&](const char* model) {
        SimulatedBoard plain(Quiet(fingers)), board(Quiet((std::string(fingers) + model).c_str()));
        plain.AdvanceTo(0.0);
        board.AdvanceTo(0.0);
        std::vector<double> g;
        for (int axis : {0, 1}) {
            for (int k = 0; k < (axis ? 40 : 24); ++k) {
                g.push_back((board.Level(axis, k) - 100) / (plain.Level(axis, k) - 100));
            }
        }
        return g;
    };
    const auto a = gains("gain 0.3\n");
    EXPECT_GE(*std::min_element(a.begin(), a.end()), 0.7 - 1e-9);
    EXPECT_LE(*std::max_element(a.begin(), a.end()), 1.3 + 1e-9);
    EXPECT_GT(*std::max_element(a.begin(), a.end()) - *std::min_element(a.begin(), a.end()), 0.3);
    EXPECT_EQ(gains("gain 0.3\n"), a);
    EXPECT_NE(gains("gain 0.3\nseed 2\n"), a);
}

TEST(SimulatedBoard, DeadElectrodesAndRise) {
    // Without a layout of its own, the faults apply to the layout the driver sets later.
    SimulatedBoard dead(Quiet("dead x 6\ndead y 60\nat 0 down 1 0.25 0.5 30\n"));
    dead.SetLayout(*LayoutForModel("B64"));
    dead.AdvanceTo(0.0);
    EXPECT_EQ(dead.Level(0, 6), 100.0) << "no finger signal";
    EXPECT_GT(dead.Level(0, 5), 110.0);
    EXPECT_GT(dead.Level(1, 19), 110.0) << "one it lacks is ignored";

    for (double rate : {6.0, -6.0}) {
        SimulatedBoard board(Quiet(("layout B64\nrise " + std::to_string(rate)).c_str()));
        board.AdvanceTo(600.0);  // ten minutes: ten times the rate, times 0.5 to 1.5
        std::vector<double> rise;
        for (int k = 0; k < 24; ++k) {
            rise.push_back((board.Level(0, k) - 100.0) / rate);
            EXPECT_GE(rise.back(), 5.0 - 1e-9) << k;
            EXPECT_LE(rise.back(), 15.0 + 1e-9) << k;
        }
        EXPECT_GT(*std::max_element(rise.begin(), rise.end()) - rise.front(), 0.0);
    }
}

TEST(SimulatedBoard, CommonNoiseHumAndNoisyElectrodes) {
    struct Case {
        const char* model;
        bool axisAlike;  // all electrodes of an axis read the same in a frame, else only one moves
    };
    for (const Case& c : {Case{"common 5\n", true}, Case{"hum 10 7\n", true},
                          Case{"noisy x 3 5\nnoisy y 2 5\n", false}}) {
        SimulatedBoard board(Quiet((std::string("layout B64\n") + c.model).c_str()));
        const SensorLayout& l = board.Layout();
        std::vector<uint8_t> samples(64);
        std::vector<int> xs, ys;  // the moving readings of each axis, frame by frame
        for (int frame = 0; frame < 50; ++frame) {
            board.AdvanceTo(frame * 0.01);
            board.Render(samples.data());
            xs.push_back(samples[l.SampleOfX(c.axisAlike ? 0 : 3)]);
            ys.push_back(samples[l.SampleOfY(c.axisAlike ? 0 : 2)]);
            for (int k = 0; k < l.CountX(); ++k) {
                if (c.axisAlike || k != 3) {
                    ASSERT_EQ(samples[l.SampleOfX(k)], c.axisAlike ? xs.back() : 100) << c.model;
                }
            }
            for (int k = 0; k < l.CountY(); ++k) {
                if (c.axisAlike || k != 2) {
                    ASSERT_EQ(samples[l.SampleOfY(k)], c.axisAlike ? ys.back() : 100) << c.model;
                }
            }
        }
        EXPECT_GT(std::set<int>(xs.begin(), xs.end()).size(), 3u) << c.model;
        EXPECT_GT(std::set<int>(ys.begin(), ys.end()).size(), 3u) << c.model;
        EXPECT_NE(xs, ys) << c.model << " each axis its own";
    }
}
