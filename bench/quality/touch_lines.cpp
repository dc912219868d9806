// Straight lines drawn on the simulated foil through the whole driver path: how far the
// pointer (and, before the pointer pipeline, the touch detector's peak) strays from the line
// the finger drew, for the B64 and S40 models at two noise levels. Lines run along X (0°),
// along the diagonal of the foil's normalised coordinates (45°) and along Y (90°); distances in
// electrode pitches and, for B64 on the example foil, in millimetres.
// With --data=DIR it writes DIR/lines-MODEL-NOISE.dat for the plots: per line a block (blocks
// two blank lines apart) of the pointer's points: x, y normalised, the position along the line
// (0..1) and the signed distance from it in pitches.
//   touch_lines [--seconds=S] [--data=DIR]
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

constexpr double kSettle = 5.0;
constexpr double kNoises[] = {0.5, 2.0};
constexpr const char* kModels[] = {"B64", "S40"};

struct Line {
    const char* name;
    Point from;
    Point to;
};
// Off the electrodes' centres, so that the interpolation between them shows.
constexpr Line kLines[] = {{"0° ", {0.1, 0.43}, {0.9, 0.43}},
                           {"45°", {0.1, 0.1}, {0.9, 0.9}},
                           {"90°", {0.43, 0.1}, {0.43, 0.9}}};

// Normalised foil coordinates to a physical plane: pitches (scaleX = electrodes - 1) or mm.
Point Scaled(Point p, double scaleX, double scaleY) {
    return {p.x * scaleX, p.y * scaleY};
}

LineDeviation Deviation(const std::vector<Point>& points, const Line& line, double scaleX,
                        double scaleY) {
    std::vector<Point> scaled;
    for (const Point& p : points) {
        scaled.push_back(Scaled(p, scaleX, scaleY));
    }
    return DeviationFromLine(scaled, Scaled(line.from, scaleX, scaleY),
                             Scaled(line.to, scaleX, scaleY));
}

struct Drawn {
    std::vector<Point> pointer;
    std::vector<Point> peaks;
};

bool WriteLines(const std::string& folder, const char* model, double noise,
                const std::vector<Drawn>& drawn, double pitchesX, double pitchesY) {
    char name[64];
    std::snprintf(name, sizeof name, "/lines-%s-%.1f.dat", model, noise);
    const std::string path = folder + name;
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "touch_lines: cannot write %s\n", path.c_str());
        return false;
    }
    std::fprintf(out,
                 "# %s, noise %.1f: x, y (normalised), along the line (0..1), distance "
                 "from it (pitches); one block per line: 0°, 45°, 90°\n",
                 model, noise);
    for (size_t i = 0; i < drawn.size(); ++i) {
        const Line& line = kLines[i];
        const Point a = Scaled(line.from, pitchesX, pitchesY);
        const Point b = Scaled(line.to, pitchesX, pitchesY);
        const double dx = line.to.x - line.from.x;
        const double dy = line.to.y - line.from.y;
        for (const Point& p : drawn[i].pointer) {
            const double along =
                ((p.x - line.from.x) * dx + (p.y - line.from.y) * dy) / (dx * dx + dy * dy);
            std::fprintf(out, "%.5f %.5f %.4f %.4f\n", p.x, p.y, along,
                         DistanceFromLine(Scaled(p, pitchesX, pitchesY), a, b));
        }
        std::fprintf(out, "\n\n");
    }
    return std::fclose(out) == 0;
}

std::vector<Drawn> Draw(const char* model, double noise, double seconds) {
    std::ostringstream text;
    text << "layout " << model << "\nnoise " << noise << "\nseed 7\nrate 100\n";
    double t = kSettle;
    std::vector<double> starts;
    for (const Line& line : kLines) {
        text << "at " << t << " down 1 " << line.from.x << " " << line.from.y << "\n"
             << "at " << t + 0.2 << " move 1 " << line.to.x << " " << line.to.y << " " << seconds
             << "\n"
             << "at " << t + 0.4 + seconds << " up 1\n";
        starts.push_back(t + 0.2);
        t += seconds + 1.0;
    }
    TouchRig rig(text.str(), false);
    rig.RunUntil(t);

    std::vector<Drawn> drawn(starts.size());
    for (size_t i = 0; i < starts.size(); ++i) {
        // The moving part, after the pointer has caught up with the finger's start.
        const double from = starts[i] + 0.1;
        const double to = starts[i] + seconds;
        bool pressed = false;
        for (const InjectedEvent& e : rig.Events()) {
            pressed = (e.flags & pointer_flags::kLeftDown) != 0 ? true
                      : (e.flags & pointer_flags::kLeftUp) != 0 ? false
                                                                : pressed;
            if (pressed && (e.flags & pointer_flags::kMove) != 0 && e.frameTime >= from &&
                e.frameTime < to) {
                drawn[i].pointer.push_back({e.x, e.y});
            }
        }
        for (const FramePeaks& p : rig.Peaks()) {
            if (p.frameTime >= from && p.frameTime < to) {
                drawn[i].peaks.push_back({p.x, p.y});
            }
        }
    }
    return drawn;
}

}  // namespace
}  // namespace kv::quality

int main(int argc, char** argv) {
    using namespace kv::quality;
    double seconds = 4.0;
    std::string data;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
            seconds = std::atof(argv[i] + 10);
        } else if (std::strncmp(argv[i], "--data=", 7) == 0) {
            data = argv[i] + 7;
        } else {
            std::fprintf(stderr, "usage: touch_lines [--seconds=S] [--data=DIR]\n");
            return 2;
        }
    }
    if (seconds < 0.5) {
        std::fprintf(stderr, "touch_lines: --seconds must be at least 0.5\n");
        return 2;
    }
    const ExampleFoil foil;
    std::printf(
        "Straight lines from 0.1 to 0.9 of the foil, %.1f s each (%.2f of the foil per\n"
        "second), 100 fps, through the whole path, \"Select / Move / Release\": distance of the\n"
        "pointer's points (button held) and of the detector's peaks from the line, in pitches;\n"
        "for B64 also in mm on the example %.0f-inch foil:\n\n",
        seconds, 0.8 / seconds, foil.diagonalInches);
    std::printf(
        "| model | noise | line | points | pointer RMS | pointer max | detector RMS | "
        "detector max | pointer RMS / max in mm |\n");
    std::printf(
        "|-------|-------|------|--------|-------------|-------------|--------------|"
        "--------------|-------------------------|\n");
    bool sane = true;
    for (const char* model : kModels) {
        const kv::SensorLayout layout = *kv::LayoutForModel(model);
        const double pitchesX = layout.CountX() - 1;
        const double pitchesY = layout.CountY() - 1;
        for (const double noise : kNoises) {
            const std::vector<Drawn> drawn = Draw(model, noise, seconds);
            for (size_t i = 0; i < drawn.size(); ++i) {
                const LineDeviation pointer =
                    Deviation(drawn[i].pointer, kLines[i], pitchesX, pitchesY);
                const LineDeviation peaks =
                    Deviation(drawn[i].peaks, kLines[i], pitchesX, pitchesY);
                char millimetres[48] = "";
                if (std::strcmp(model, "B64") == 0) {
                    const LineDeviation mm =
                        Deviation(drawn[i].pointer, kLines[i], foil.heightMm, foil.widthMm);
                    std::snprintf(millimetres, sizeof millimetres, "%.1f / %.1f mm", mm.rms,
                                  mm.max);
                }
                std::printf(
                    "| %-5s | %5.1f | %s  | %6zu | %11.3f | %11.3f | %12.3f | %12.3f | "
                    "%-23s |\n",
                    model, noise, kLines[i].name, pointer.count, pointer.rms, pointer.max,
                    peaks.rms, peaks.max, millimetres);
                // Sanity only: the line was drawn, and within an electrode of where it should be.
                sane = sane && pointer.count > 0 && pointer.max < 1.0;
            }
            if (!data.empty() && !WriteLines(data, model, noise, drawn, pitchesX, pitchesY)) {
                return 1;
            }
        }
    }
    if (!sane) {
        std::printf("\ntouch_lines: a line went undrawn or strays more than a pitch\n");
        return 1;
    }
    return 0;
}
