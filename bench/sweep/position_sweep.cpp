// The position sweep: a still finger at many places across the simulated foil (visited in an
// order that does not come back to the same electrodes soon), through the
// splitter, histories, correlators, peak finders and detector, for two sensor models and two
// noise levels. Prints, per axis and in electrode pitches, the mean and the largest error of
// the reported position (averaged over the frames of one touch) and the jitter (standard
// deviation over those frames). The checks are only for sanity; the figures are the point.
// With --data=DIR it also writes each touch's error, for the error maps of the quality report:
// DIR/error-map-MODEL-NOISE.dat, one line per touch (true x, true y normalised; error x, error
// y, error and jitter in pitches), a blank line after each column of the grid.
//   position_sweep [--grid=N] [--data=DIR]
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/quality/quality_math.h"
#include "driver/core/touch_engine.h"
#include "driver/dsp/dsp_stages.h"
#include "driver/sim/scenario.h"
#include "driver/sim/simulated_board.h"
#include "protocol/registry.h"
#include "protocol/sensor_layout.h"

namespace {

int kGrid = 15;                           // positions per axis: kGrid x kGrid touches
constexpr double kRate = 100.0;           // frames per second
constexpr int kHousekeepingFrames = 200;  // the two-second task at 100 frames per second
constexpr double kSettle = 5.0;           // seconds before the first touch: baseline valid
constexpr double kHold = 1.0;             // seconds a finger rests
constexpr double kGap = 0.5;              // seconds between touches
constexpr double kSkip = 0.1;             // seconds after touch-down left out of the figures

// The first peak of each axis per frame, and whether both were above the press threshold: the
// single-touch engine's place.
class PeakProbe final : public kv::TouchEngine {
public:
    void Feed(const kv::AxisPeaks& peaks) override {
        if (peaks.axis == 0) {
            x = peaks.first;
            xPress = peaks.pressThreshold;
        } else if (peaks.frameComplete) {
            y = peaks.first;
            pressed = x.amplitude > xPress && y.amplitude > peaks.pressThreshold;
            complete = true;
        }
    }
    void PeriodicStep(int32_t) override {}

    kv::PeakCandidate x;
    kv::PeakCandidate y;
    float xPress = 0.0f;
    bool pressed = false;
    bool complete = false;
};

struct Stats {
    double sum = 0.0;
    double sumSquares = 0.0;
    int n = 0;
    void Add(double v) {
        sum += v;
        sumSquares += v * v;
        ++n;
    }
    double Mean() const { return n > 0 ? sum / n : 0.0; }
    double Deviation() const {
        if (n < 2) {
            return 0.0;
        }
        const double mean = Mean();
        return std::sqrt(std::max(0.0, sumSquares / n - mean * mean));
    }
};

struct AxisFigures {
    double errorSum = 0.0;
    double errorMax = 0.0;
    double jitterSum = 0.0;
    double jitterMax = 0.0;
    double worstAt = 0.0;  // where the largest error was, normalised
    int touches = 0;
    void Add(double at, double error, double jitter) {
        errorSum += error;
        if (error > errorMax) {
            errorMax = error;
            worstAt = at;
        }
        jitterSum += jitter;
        jitterMax = std::max(jitterMax, jitter);
        ++touches;
    }
};

// One touch of the grid: where the finger was and what the detector made of it.
struct Touch {
    double x = 0.0;  // normalised
    double y = 0.0;
    double errorX = 0.0;  // signed, pitches
    double errorY = 0.0;
    double jitter = 0.0;  // both axes together, pitches
};

struct Row {
    AxisFigures x;
    AxisFigures y;
    std::vector<Touch> touches;
    int framesPressed = 0;
    int framesTotal = 0;
};

double GridPosition(int i) {
    return static_cast<double>(i) / (kGrid - 1);
}

std::string ScenarioText(const char* model, double noise) {
    std::ostringstream text;
    text << "layout " << model << "\nnoise " << noise << "\nseed 3\nrate " << kRate << "\n";
    double t = kSettle;
    for (int k = 0; k < kGrid * kGrid; ++k) {
        const kv::quality::GridCell cell = kv::quality::GridVisit(k, kGrid);
        text << "at " << t << " down 1 " << GridPosition(cell.i) << " " << GridPosition(cell.j)
             << "\n";
        text << "at " << t + kHold << " up 1\n";
        t += kHold + kGap;
    }
    return text.str();
}

Row Sweep(const char* model, double noise) {
    kv::sim::ScenarioError error;
    const auto scenario = kv::sim::ParseScenario(ScenarioText(model, noise), error);
    if (!scenario) {
        std::fprintf(stderr, "position_sweep: %s\n", error.Text().c_str());
        std::exit(1);
    }
    const kv::SensorLayout layout = *kv::LayoutForModel(model);
    kv::Registry registry(kv::ProgramRole::Driver);
    kv::SetLayout(registry, layout);
    auto dsp = std::make_unique<kv::DspStages>(registry);
    PeakProbe sink;
    dsp->Detector().SetTouchEngines({&sink, nullptr, nullptr, nullptr});
    kv::sim::SimulatedBoard board(*scenario);

    const double pitchX = layout.CountX() - 1;  // normalised units to electrode pitches
    const double pitchY = layout.CountY() - 1;
    Row row;
    std::array<uint8_t, kv::sim::kMaxSamples> samples{};
    int64_t frame = 0;
    for (int k = 0; k < kGrid * kGrid; ++k) {
        const kv::quality::GridCell cell = kv::quality::GridVisit(k, kGrid);
        const double fingerX = GridPosition(cell.i);
        const double fingerY = GridPosition(cell.j);
        const double down = kSettle + k * (kHold + kGap);
        Stats xs;
        Stats ys;
        for (;; ++frame) {
            const double t = static_cast<double>(frame) / kRate;
            if (t >= down + kHold + kGap) {
                break;
            }
            board.AdvanceTo(t);
            board.Render(samples.data());
            sink.complete = false;
            dsp->ProcessFrame(layout.muxSize, samples.data());
            if ((frame + 1) % kHousekeepingFrames == 0) {
                dsp->Housekeeping();
            }
            if (t < down + kSkip || t >= down + kHold - 0.02 || !sink.complete) {
                continue;
            }
            ++row.framesTotal;
            if (sink.pressed) {
                ++row.framesPressed;
                xs.Add(sink.x.position);
                ys.Add(sink.y.position);
            }
        }
        if (xs.n > 0) {
            const double jx = xs.Deviation() * pitchX;
            const double jy = ys.Deviation() * pitchY;
            row.touches.push_back({fingerX, fingerY, (xs.Mean() - fingerX) * pitchX,
                                   (ys.Mean() - fingerY) * pitchY, std::sqrt(jx * jx + jy * jy)});
            row.x.Add(fingerX, std::fabs(xs.Mean() - fingerX) * pitchX, jx);
            row.y.Add(fingerY, std::fabs(ys.Mean() - fingerY) * pitchY, jy);
        }
    }
    // Column by column, for the error map's files.
    std::sort(row.touches.begin(), row.touches.end(),
              [](const Touch& a, const Touch& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
    return row;
}

// Writes one model's and noise level's touches for the error map; false when it cannot.
bool WriteErrorMap(const std::string& folder, const char* model, double noise, const Row& row) {
    char name[64];
    std::snprintf(name, sizeof name, "/error-map-%s-%.1f.dat", model, noise);
    const std::string path = folder + name;
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "position_sweep: cannot write %s\n", path.c_str());
        return false;
    }
    std::fprintf(out,
                 "# %s, noise %.1f: true x, true y (normalised); error x, error y, error, "
                 "jitter (pitches)\n",
                 model, noise);
    double lastX = -1.0;
    for (const Touch& t : row.touches) {
        if (lastX >= 0.0 && t.x != lastX) {
            std::fprintf(out, "\n");
        }
        lastX = t.x;
        std::fprintf(out, "%.4f %.4f %.4f %.4f %.4f %.4f\n", t.x, t.y, t.errorX, t.errorY,
                     std::hypot(t.errorX, t.errorY), t.jitter);
    }
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string data;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--grid=", 7) == 0) {
            kGrid = std::atoi(argv[i] + 7);
        } else if (std::strncmp(argv[i], "--data=", 7) == 0) {
            data = argv[i] + 7;
        } else {
            std::fprintf(stderr, "usage: position_sweep [--grid=N] [--data=DIR]\n");
            return 2;
        }
    }
    if (kGrid < 2) {
        std::fprintf(stderr, "position_sweep: --grid must be at least 2\n");
        return 2;
    }
    std::printf(
        "Position sweep: %d x %d still fingers (strength 30, width 0.7 pitch), %.0f fps,\n"
        "%.1f s each; figures in electrode pitches, over the frames both axes press (err: the\n"
        "mean's distance from the finger, at: where the largest was, jit: the standard\n"
        "deviation over the touch's frames):\n\n",
        kGrid, kGrid, kRate, kHold);
    std::printf(
        "| %-5s | %5s | %7s | %6s | %6s | %4s | %6s | %6s | %6s | %6s | %4s | %6s | %6s |\n",
        "model", "noise", "pressed", "X err", "X max", "at", "X jit", "X jmax", "Y err", "Y max",
        "at", "Y jit", "Y jmax");
    std::printf(
        "|-------|-------|---------|--------|--------|------|--------|--------|--------|"
        "--------|------|--------|--------|\n");
    bool sane = true;
    struct Result {
        const char* model;
        double noise;
        Row row;
    };
    std::vector<Result> results;
    for (const char* model : {"B64", "S40"}) {
        for (const double noise : {0.5, 2.0}) {
            const Row row = Sweep(model, noise);
            const double pressed =
                row.framesTotal > 0 ? 100.0 * row.framesPressed / row.framesTotal : 0.0;
            const auto mean = [](double sum, int n) { return n > 0 ? sum / n : 0.0; };
            std::printf(
                "| %-5s | %5.1f | %6.1f%% | %6.3f | %6.3f | %4.2f | %6.3f | %6.3f | %6.3f | "
                "%6.3f | %4.2f | %6.3f | %6.3f |\n",
                model, noise, pressed, mean(row.x.errorSum, row.x.touches), row.x.errorMax,
                row.x.worstAt, mean(row.x.jitterSum, row.x.touches), row.x.jitterMax,
                mean(row.y.errorSum, row.y.touches), row.y.errorMax, row.y.worstAt,
                mean(row.y.jitterSum, row.y.touches), row.y.jitterMax);
            // Sanity only: every touch was seen, and on average within an electrode.
            sane = sane && row.x.touches == kGrid * kGrid && row.y.touches == kGrid * kGrid &&
                   mean(row.x.errorSum, row.x.touches) < 1.0 &&
                   mean(row.y.errorSum, row.y.touches) < 1.0;
            results.push_back({model, noise, row});
        }
    }

    // The error as a distance (both axes together), and in millimetres on the example foil.
    const kv::quality::ExampleFoil foil;
    std::printf(
        "\nDistance from the finger (both axes), over the %d touches (inside: those at least a\n"
        "pitch from every edge); jitter: both axes' standard deviations together. Millimetres\n"
        "for B64 on the example %.0f-inch foil\n"
        "(X pitch %.1f mm, Y pitch %.1f mm):\n\n",
        kGrid * kGrid, foil.diagonalInches, foil.pitchXMm, foil.pitchYMm);
    std::printf(
        "| model | noise | error mean | mean inside | error p95 | error max | jitter mean | "
        "jitter max | in mm: error mean / max, jitter mean |\n");
    std::printf(
        "|-------|-------|------------|-------------|-----------|-----------|-------------|"
        "------------|--------------------------------------|\n");
    for (const Result& r : results) {
        // Inside: at least a pitch from every edge, where an electrode lies on either side.
        const kv::SensorLayout layout = *kv::LayoutForModel(r.model);
        const auto inside = [](double at, int32_t electrodes) {
            const double pitches = at * (electrodes - 1);
            return pitches >= 1.0 - 1e-9 && pitches <= electrodes - 2 + 1e-9;
        };
        std::vector<double> errors, errorsInside, errorsMm, errorsInsideMm, jitters;
        for (const Touch& t : r.row.touches) {
            errors.push_back(std::hypot(t.errorX, t.errorY));
            if (inside(t.x, layout.CountX()) && inside(t.y, layout.CountY())) {
                errorsInside.push_back(errors.back());
                errorsInsideMm.push_back(
                    std::hypot(t.errorX * foil.pitchXMm, t.errorY * foil.pitchYMm));
            }
            errorsMm.push_back(std::hypot(t.errorX * foil.pitchXMm, t.errorY * foil.pitchYMm));
            jitters.push_back(t.jitter);
        }
        const auto mean = [](const std::vector<double>& v) {
            double sum = 0.0;
            for (double x : v) {
                sum += x;
            }
            return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
        };
        std::sort(errors.begin(), errors.end());
        const kv::quality::Summary e = kv::quality::Summarise(errors);
        const kv::quality::Summary j = kv::quality::Summarise(jitters);
        const kv::quality::Summary mm = kv::quality::Summarise(errorsMm);
        char millimetres[64] = "";
        if (std::strcmp(r.model, "B64") == 0) {
            std::snprintf(millimetres, sizeof millimetres, "%.1f (inside %.1f) / %.1f, %.2f",
                          mean(errorsMm), mean(errorsInsideMm), mm.max,
                          mean(jitters) * 0.5 * (foil.pitchXMm + foil.pitchYMm));
        }
        std::printf(
            "| %-5s | %5.1f | %10.3f | %11.3f | %9.3f | %9.3f | %11.3f | %10.3f | %-36s |\n",
            r.model, r.noise, mean(errors), mean(errorsInside),
            kv::quality::SortedPercentile(errors, 95.0), e.max, mean(jitters), j.max, millimetres);
        if (!data.empty() && !WriteErrorMap(data, r.model, r.noise, r.row)) {
            return 1;
        }
    }
    if (!sane) {
        std::printf("\nposition_sweep: a touch went unseen or the mean error exceeds a pitch\n");
        return 1;
    }
    return 0;
}
