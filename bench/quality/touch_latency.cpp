// How long a touch takes through the driver. First the processing time of each stage per
// frame (µs, over many frames of a finger drawing strokes on the simulated B64 foil), then the
// delay the signal path itself adds, in frames: finger-down to press, lift to release, and how
// far a pointer trails a finger moving at constant speed, at 100 and 200 frames per second.
//   touch_latency [--frames=N] [--taps=N]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "bench/quality/quality_math.h"
#include "bench/quality/touch_rig.h"

namespace kv::quality {
namespace {

constexpr double kSettle = 5.0;  // seconds before the first touch: the baseline is valid
// What desktop vendors ask of a touch screen: first contact reported within 35 ms of the
// touch, a moving contact within 25 ms of the finger.
constexpr double kDownLimitMs = 35.0;
constexpr double kMoveLimitMs = 25.0;

std::string Header(const char* model, double rate) {
    std::ostringstream text;
    text << "layout " << model << "\nnoise 0.5\nseed 5\nrate " << rate << "\n";
    return text.str();
}

// Strokes one after another across the foil until the scenario has lasted `seconds`: a finger
// lands, draws for two seconds and lifts.
std::string StrokesScenario(double seconds) {
    std::ostringstream text;
    text << Header("B64", 100.0);
    int k = 0;
    for (double t = kSettle; t + 2.5 < seconds; t += 2.5, ++k) {
        const double x0 = 0.1 + 0.8 * std::fmod(0.37 * k, 1.0);
        const double y0 = 0.1 + 0.8 * std::fmod(0.61 * k + 0.2, 1.0);
        text << "at " << t << " down 1 " << x0 << " " << y0 << "\n"
             << "at " << t + 0.1 << " move 1 " << 1.0 - x0 << " " << 1.0 - y0 << " 2\n"
             << "at " << t + 2.2 << " up 1\n";
    }
    return text.str();
}

void StageTimes(int64_t frames) {
    const double rate = 100.0;
    const auto settleFrames = static_cast<int64_t>(kSettle * rate);
    TouchRig rig(StrokesScenario(kSettle + static_cast<double>(frames) / rate + 3.0), true);
    rig.RunFrames(settleFrames + frames);
    std::vector<double> link, dspX, dspY, touch, inject, whole;
    const auto& times = rig.Times();
    for (size_t i = static_cast<size_t>(settleFrames); i < times.size(); ++i) {
        link.push_back(times[i].linkToChain);
        dspX.push_back(times[i].dspX);
        dspY.push_back(times[i].dspY);
        touch.push_back(times[i].touch);
        whole.push_back(times[i].whole);
        if (times[i].toInject >= 0.0) {
            inject.push_back(times[i].toInject);
        }
    }
    std::printf(
        "Processing time per frame, B64 (64 channels), a finger drawing strokes, %lld frames\n"
        "(steady clock around the stage calls; Release build):\n\n",
        static_cast<long long>(frames));
    std::printf("| %-52s | %7s | %9s | %9s | %9s |\n", "stage", "frames", "p50 µs", "p99 µs",
                "max µs");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(54, '-').c_str(), std::string(9, '-').c_str(),
                std::string(10, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str());
    const auto row = [](const char* name, const std::vector<double>& values) {
        const Summary s = Summarise(values);
        std::printf("| %-52s | %7zu | %8.2f | %8.2f | %8.2f |\n", name, s.count, s.p50, s.p99,
                    s.max);
    };
    row("report arrival -> frame handed to the signal chain", link);
    row("signal processing, X axis (splitter .. detector)", dspX);
    row("signal processing, Y axis (history .. detector)", dspY);
    row("touch engine + pointer pipeline + device", touch);
    row("report arrival -> injected event (frames with one)", inject);
    row("report arrival -> frame done", whole);
}

double Mean(const std::vector<double>& v) {
    double sum = 0.0;
    for (double x : v) {
        sum += x;
    }
    return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
}

// The first event at or after time t whose flags include `flag`; nullptr if none.
const InjectedEvent* FirstAfter(const std::vector<InjectedEvent>& events, double t, uint32_t flag) {
    for (const InjectedEvent& e : events) {
        if (e.frameTime >= t - 1e-6 && (e.flags & flag) != 0) {
            return &e;
        }
    }
    return nullptr;
}

constexpr double kHold = 0.4;      // a tap's length, seconds
constexpr double kTapEvery = 1.0;  // seconds from one tap to the next
constexpr double kMoveFrom = 0.2;  // strokes run along the middle of the foil and back
constexpr double kMoveTo = 0.8;
constexpr double kSpeeds[] = {0.3, 0.6, 1.2};  // foil widths per second

// How many frames the pointer and the detector's peak trail a finger moving at constant speed:
// each the mean over both ways, over the middle 60 % of each (away from the start, where the
// pointer first catches up).
struct Lag {
    double speed = 0.0;
    double pointerOut = 0.0;
    double pointerBack = 0.0;
    double peak = 0.0;
    double Pointer() const { return 0.5 * (pointerOut + pointerBack); }
};

struct Delays {
    std::vector<double> down;     // frames from the finger's first frame to the press
    std::vector<double> release;  // frames from the first frame without it to the release
    std::vector<double> landing;  // pitches from the finger to the pointer when it pressed
    std::vector<Lag> lags;        // one per speed
};

Delays MeasureDelays(double rate, int taps) {
    // Taps at scattered places, then per speed one stroke across the foil and back. Every
    // event lies on the frame grid, so the finger changes in the frame of that time.
    std::ostringstream text;
    text << Header("B64", rate);
    std::vector<Point> places;
    for (int i = 0; i < taps; ++i) {
        const double t = kSettle + i * kTapEvery;
        places.push_back(
            {0.15 + 0.7 * std::fmod(0.29 * i, 1.0), 0.15 + 0.7 * std::fmod(0.53 * i + 0.1, 1.0)});
        text << "at " << t << " down 1 " << places.back().x << " " << places.back().y << "\n"
             << "at " << t + kHold << " up 1\n";
    }
    struct Stroke {
        double speed, out, back;
    };
    std::vector<Stroke> strokes;
    double t = kSettle + taps * kTapEvery;
    for (const double speed : kSpeeds) {
        const double seconds = (kMoveTo - kMoveFrom) / speed;
        const Stroke stroke{speed, t + 0.2, t + 0.4 + seconds};
        text << "at " << t << " down 1 " << kMoveFrom << " 0.5\n"
             << "at " << stroke.out << " move 1 " << kMoveTo << " 0.5 " << seconds << "\n"
             << "at " << stroke.back << " move 1 " << kMoveFrom << " 0.5 " << seconds << "\n"
             << "at " << stroke.back + seconds + 0.2 << " up 1\n";
        strokes.push_back(stroke);
        t = stroke.back + seconds + 1.0;
    }
    TouchRig rig(text.str(), false);
    rig.RunUntil(t);

    Delays d;
    const auto& events = rig.Events();
    for (int i = 0; i < taps; ++i) {
        const double down = kSettle + i * kTapEvery;
        const InjectedEvent* press = FirstAfter(events, down, pointer_flags::kLeftDown);
        const InjectedEvent* lift = FirstAfter(events, down + kHold, pointer_flags::kLeftUp);
        if (press != nullptr && press->frameTime < down + kHold) {
            d.down.push_back(std::round((press->frameTime - down) * rate));
            // Where the pointer was when the button went down: the last move before the press.
            const InjectedEvent* at = nullptr;
            for (const InjectedEvent& e : events) {
                if (&e == press) {
                    break;
                }
                if ((e.flags & pointer_flags::kMove) != 0 && e.frameTime >= down - 1e-6) {
                    at = &e;
                }
            }
            if (at != nullptr) {
                const SensorLayout& layout = rig.Layout();
                d.landing.push_back(std::hypot((at->x - places[i].x) * (layout.CountX() - 1),
                                               (at->y - places[i].y) * (layout.CountY() - 1)));
            }
        }
        if (lift != nullptr && lift->frameTime < down + kTapEvery) {
            d.release.push_back(std::round((lift->frameTime - down - kHold) * rate));
        }
    }
    for (const Stroke& stroke : strokes) {
        const double seconds = (kMoveTo - kMoveFrom) / stroke.speed;
        const ConstantMove ways[2] = {{kMoveFrom, stroke.out, stroke.speed},
                                      {kMoveTo, stroke.back, -stroke.speed}};
        std::vector<double> pointer[2];
        std::vector<double> peak[2];
        for (int w = 0; w < 2; ++w) {
            const double from = ways[w].start + 0.2 * seconds;
            const double to = ways[w].start + 0.8 * seconds;
            for (const InjectedEvent& e : events) {
                if ((e.flags & pointer_flags::kMove) != 0 && e.frameTime >= from &&
                    e.frameTime < to) {
                    pointer[w].push_back(LagFrames(ways[w], e.frameTime, e.x, rate));
                }
            }
            for (const FramePeaks& p : rig.Peaks()) {
                if (p.frameTime >= from && p.frameTime < to) {
                    peak[w].push_back(LagFrames(ways[w], p.frameTime, p.x, rate));
                }
            }
        }
        d.lags.push_back({stroke.speed, Mean(pointer[0]), Mean(pointer[1]),
                          0.5 * (Mean(peak[0]) + Mean(peak[1]))});
    }
    return d;
}

void SignalPathDelays(int taps) {
    std::printf(
        "\nDelay of the signal path in frames (B64, noise 0.5), from the frame in which the\n"
        "simulated finger changes: %d taps of %.1f s at scattered places, median and largest;\n"
        "and how far from the finger the pointer was when the button went down:\n\n",
        taps, kHold);
    std::printf("| %4s | %-33s | %-33s | %-24s |\n", "fps", "finger-down -> press",
                "lift -> release", "press lands: mean / max");
    std::printf(
        "|------|-----------------------------------|-----------------------------------|"
        "--------------------------|\n");
    std::vector<std::pair<double, Delays>> runs;
    for (const double rate : {100.0, 200.0}) {
        runs.emplace_back(rate, MeasureDelays(rate, taps));
        const Delays& d = runs.back().second;
        const Summary down = Summarise(d.down);
        const Summary release = Summarise(d.release);
        const double period = 1000.0 / rate;
        char downText[64];
        char releaseText[64];
        std::snprintf(downText, sizeof downText, "%.0f / %.0f frames = %.0f ms (%zu of %d)",
                      down.p50, down.max, down.max * period, down.count, taps);
        std::snprintf(releaseText, sizeof releaseText, "%.0f / %.0f frames = %.0f ms (%zu of %d)",
                      release.p50, release.max, release.max * period, release.count, taps);
        const Summary landing = Summarise(d.landing);
        char landingText[64];
        std::snprintf(landingText, sizeof landingText, "%.3f / %.3f pitches", Mean(d.landing),
                      landing.max);
        std::printf("| %4.0f | %-33s | %-33s | %-24s |\n", rate, downText, releaseText,
                    landingText);
    }
    std::printf(
        "\nA finger moving along the middle of the foil from 0.2 to 0.8 of its width and back:\n"
        "how many frames ago the finger was where the pointer is (the mean of both ways over the\n"
        "middle 60 %% of each, so that a position error cancels), and the same for the touch\n"
        "detector's peak, before the pointer pipeline. A width is the foil's extent along X (on\n"
        "the example 55-inch foil the 684.9 mm height):\n\n");
    std::printf("| %4s | %-16s | %-26s | %-14s | %-18s |\n", "fps", "widths/s", "pointer lag",
                "out / back", "peak lag (detector)");
    std::printf(
        "|------|------------------|----------------------------|----------------|"
        "---------------------|\n");
    for (const auto& [rate, d] : runs) {
        const double period = 1000.0 / rate;
        for (const Lag& lag : d.lags) {
            char pointerText[64];
            char wayText[32];
            char peakText[32];
            std::snprintf(pointerText, sizeof pointerText, "%.1f frames = %.1f ms", lag.Pointer(),
                          lag.Pointer() * period);
            std::snprintf(wayText, sizeof wayText, "%.1f / %.1f", lag.pointerOut, lag.pointerBack);
            std::snprintf(peakText, sizeof peakText, "%.1f frames", lag.peak);
            char speedText[32];
            std::snprintf(speedText, sizeof speedText, "%.1f (%.0f mm/s)", lag.speed,
                          lag.speed * ExampleFoil{}.heightMm);
            std::printf("| %4.0f | %-16s | %-26s | %-14s | %-19s |\n", rate, speedText, pointerText,
                        wayText, peakText);
        }
    }
    // The board scans a whole frame before sending it: one more frame period in front of the
    // delay the driver adds (the processing time, in µs, is negligible beside it).
    std::printf(
        "\nAgainst the desktop requirements (touch-down <= %.0f ms, move <= %.0f ms), counting\n"
        "one frame period more for the board's scan:\n\n",
        kDownLimitMs, kMoveLimitMs);
    for (const auto& [rate, d] : runs) {
        const double period = 1000.0 / rate;
        const double down = (Summarise(d.down).max + 1.0) * period;
        std::printf("- %.0f fps: touch-down %.0f ms (%s);", rate, down,
                    down <= kDownLimitMs ? "meets" : "misses");
        for (const Lag& lag : d.lags) {
            const double move = (lag.Pointer() + 1.0) * period;
            std::printf(" move at %.1f widths/s %.1f ms (%s)%s", lag.speed, move,
                        move <= kMoveLimitMs ? "meets" : "misses",
                        &lag == &d.lags.back() ? ".\n" : ";");
        }
    }
    const double downFrames = Summarise(runs.back().second.down).max;
    std::printf(
        "- touch-down needs a board rate of at least %.0f fps (%.0f frames of delay + "
        "the scan within %.0f ms).\n",
        std::ceil((downFrames + 1.0) * 1000.0 / kDownLimitMs), downFrames, kDownLimitMs);
    // A move's delay is part time (the damping holds the pointer a distance behind, which takes
    // the finger a time to cover whatever the rate) and part frames (smoothing, the scan): from
    // the two rates, ms = fixed + perPeriod x frame period; the rate that brings it within the
    // limit follows, unless the fixed part alone exceeds it.
    const double periodA = 1000.0 / runs.front().first;
    const double periodB = 1000.0 / runs.back().first;
    for (size_t k = 0; k < runs.front().second.lags.size(); ++k) {
        const double msA = (runs.front().second.lags[k].Pointer() + 1.0) * periodA;
        const double msB = (runs.back().second.lags[k].Pointer() + 1.0) * periodB;
        const double perPeriod = (msA - msB) / (periodA - periodB);
        const double fixed = msA - perPeriod * periodA;
        const double speed = runs.front().second.lags[k].speed;
        if (fixed >= kMoveLimitMs || perPeriod <= 0.0) {
            std::printf(
                "- move at %.1f widths/s: no board rate meets %.0f ms (%.1f ms of it do "
                "not shrink with the frame period).\n",
                speed, kMoveLimitMs, fixed);
        } else {
            std::printf(
                "- move at %.1f widths/s needs at least %.0f fps (%.1f ms + %.2f frame "
                "periods).\n",
                speed, std::ceil(1000.0 * perPeriod / (kMoveLimitMs - fixed)), fixed, perPeriod);
        }
    }
}

}  // namespace
}  // namespace kv::quality

int main(int argc, char** argv) {
    long long frames = 100000;
    int taps = 20;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--frames=", 9) == 0) {
            frames = std::atoll(argv[i] + 9);
        } else if (std::strncmp(argv[i], "--taps=", 7) == 0) {
            taps = std::atoi(argv[i] + 7);
        } else {
            std::fprintf(stderr, "usage: touch_latency [--frames=N] [--taps=N]\n");
            return 2;
        }
    }
    if (frames < 1 || taps < 1) {
        std::fprintf(stderr, "touch_latency: --frames and --taps must be positive\n");
        return 2;
    }
    kv::quality::StageTimes(frames);
    kv::quality::SignalPathDelays(taps);
    return 0;
}
