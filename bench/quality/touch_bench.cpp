// The touch-screen test procedures run on several foil models through the driver's whole path
// (simulated board, main loop, signal chain, two-finger native touch engine, the virtual touch
// device's reports): still-point accuracy over the whole area, jitter, straight lines, the
// two-finger gestures (tracking, crossing, a resting finger, pinch), a palm, an idle foil that
// drifts, touch-down and lift delay, move lag and report rate. One table per foil model, each
// figure beside its pass criterion, in pitches and in millimetres on the example 55-inch foil.
//   touch_bench [--short] [--gestures] [--seed N]   (--gestures: a line per two-finger gesture
//   too; --seed: the simulated boards' noise and gains drawn from seed N instead of 7)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/quality/quality_math.h"
#include "bench/quality/touch_procedures.h"

namespace kv::quality {
namespace {

constexpr FoilModel kModels[] = {
    {"gauss", "Gaussian finger of 0.7 pitch, equal gains, independent noise 0.5", "width 0.7\n"},
    {"lorentz", "Lorentzian finger of 0.5 pitch, gains +-15 %, common noise 0.5",
     "profile lorentzian\nwidth 0.5\ngain 0.15\ncommon 0.5\n"},
    {"glass", "finger of 0.6 pitch under 0.3 pitch of glass, gains +-15 %, hum 1 count 50 Hz",
     "profile finger 0.6 0.3\ngain 0.15\nhum 1 50\n"},
    {"wide", "Gaussian of 1.1 pitch, gains +-10 %, noise 1.0", "width 1.1\ngain 0.1\nnoise 1\n"},
    {"flawed", "the first model with X electrode 7 noisy (3 counts) and Y electrode 20 dead",
     "width 0.7\nnoisy x 7 3\ndead y 20\n"},
};

const ExampleFoil kFoil;

// One row: the figure of each path with its verdict, and the criterion.
struct Cell {
    std::string text;
    bool pass;
};

void Row(const char* procedure, const char* criterion, const Cell& classic, const Cell& precise) {
    std::printf("| %s | %s (%s) | %s (%s) | %s |\n", procedure, classic.text.c_str(),
                classic.pass ? "meets" : "misses", precise.text.c_str(),
                precise.pass ? "meets" : "misses", criterion);
}

template <class... Args>
std::string Format(const char* format, Args... args) {
    char text[160];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// Each figure of a path, as its cell.
struct Cells {
    explicit Cells(const Figures& f) : f_(f) {}

    Cell Within() const { return {Format("%.1f %%", f_.within1mm), f_.within1mm >= 95.0}; }
    Cell Error() const {
        return {Format("%.3f / %.3f pitch (%.1f mm)", f_.p95Inside, f_.p95Edge, f_.p95InsideMm),
                f_.p95Inside <= 0.05 && f_.p95Edge <= 0.10};
    }
    Cell Jitter() const { return {Format("%.2f mm", f_.jitterMm), f_.jitterMm <= 0.5}; }
    Cell Linearity() const {
        const double worst = std::max({f_.linearityMm[0], f_.linearityMm[1], f_.linearityMm[2]});
        return {Format("%.1f / %.1f / %.1f mm", f_.linearityMm[0], f_.linearityMm[1],
                       f_.linearityMm[2]),
                worst <= 0.8};
    }
    Cell Ids() const {
        return {Format("%d of %d (most %d)", f_.gesturesWithTwoIds, f_.gestures, f_.mostIds),
                f_.gesturesWithTwoIds == f_.gestures};
    }
    Cell StillMoved() const { return {Format("%.1f mm", f_.stillMovedMm), f_.stillMovedMm <= 1.0}; }
    Cell Off() const { return {Format("%d", f_.pointsOff), f_.pointsOff == 0}; }
    Cell Palm() const { return {Format("%d", f_.palmContacts), f_.palmContacts == 0}; }
    Cell PalmFirst() const {
        return {Format("%d", f_.palmFirstContacts), f_.palmFirstContacts == 0};
    }
    Cell Extra() const { return {Format("%d", f_.extraTouches), f_.extraTouches == 0}; }
    Cell Unplugged() const {
        if (f_.unpluggedLiftMs < 0.0) {
            return {"never", false};
        }
        return {Format("after %.0f ms", f_.unpluggedLiftMs), f_.unpluggedLiftMs <= 100.0};
    }
    Cell Idle() const { return {Format("%d", f_.idleTouches), f_.idleTouches == 0}; }
    Cell Delays() const {
        const double downMs = (f_.downFrames + 1.0) * 1000.0 / kRate;  // one scan more
        return {Format("%.0f / %.0f frames, %.0f ms down", f_.downFrames, f_.liftFrames, downMs),
                downMs <= 35.0};
    }
    Cell Lag() const {
        const double lagMs = f_.lagMs + 1000.0 / kRate;
        return {Format("%.0f ms", lagMs), lagMs <= 25.0};
    }
    Cell Rate() const { return {Format("%.0f Hz", f_.reportRate), f_.reportRate >= 60.0}; }

private:
    const Figures& f_;
};

void Print(const FoilModel& model, const Figures& classicFigures, const Figures& preciseFigures,
           int points, double idleMinutes) {
    const Cells c(classicFigures);
    const Cells p(preciseFigures);
    std::printf("\n### %s: %s\n\n", model.name, model.what);
    std::printf("| procedure | classic | precise | criterion |\n|---|---|---|---|\n");
    const std::string still = Format("still points (%d): reports within 1 mm", points);
    Row(still.c_str(), ">= 95 %", c.Within(), p.Within());
    Row("position error p95, inside / edges (inside in mm)", "<= 0.05 / 0.10 pitch", c.Error(),
        p.Error());
    Row("still jitter, largest", "<= 0.5 mm", c.Jitter(), p.Jitter());
    Row("still points: touches beyond one per finger", "0", c.Extra(), p.Extra());
    Row("lines 0° / 45° / 90°, largest distance", "<= 0.8 mm", c.Linearity(), p.Linearity());
    Row("two fingers: gestures with exactly 2 ids", "all", c.Ids(), p.Ids());
    Row("two fingers: still finger moved, largest", "<= 1 mm", c.StillMoved(), p.StillMoved());
    Row("two fingers: points off both fingers (> 10 mm)", "0", c.Off(), p.Off());
    Row("palm (2.8 pitch, twice as strong) on a foil in use: contacts", "0", c.Palm(), p.Palm());
    Row("the same palm as the first touch after start: contacts", "0", c.PalmFirst(),
        p.PalmFirst());
    const std::string idle =
        Format("idle foil rising 8 counts a minute: touches in %.0f min", idleMinutes);
    Row(idle.c_str(), "0", c.Idle(), p.Idle());
    Row("the board goes under a finger: its contact lifts", "within 100 ms", c.Unplugged(),
        p.Unplugged());
    Row("touch-down / lift delay, median (down with one scan)", "<= 35 ms down", c.Delays(),
        p.Delays());
    Row("move lag along 0°, out and back, with one scan", "<= 25 ms", c.Lag(), p.Lag());
    Row("report rate while touching", ">= 60 Hz", c.Rate(), p.Rate());
}
}  // namespace
}  // namespace kv::quality

int main(int argc, char** argv) {
    using namespace kv::quality;
    using kv::TouchPath;
    bool brief = false;
    bool gestureLines = false;  // a line per two-finger gesture
    int seed = 7;
    for (int i = 1; i < argc; ++i) {
        char* end = nullptr;
        if (std::strcmp(argv[i], "--short") == 0) {
            brief = true;
        } else if (std::strcmp(argv[i], "--gestures") == 0) {
            gestureLines = true;
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc &&
                   (seed = static_cast<int>(std::strtol(argv[i + 1], &end, 10)), *end == '\0') &&
                   end != argv[i + 1] && seed > 0) {
            ++i;
        } else {
            std::fprintf(stderr, "usage: touch_bench [--short] [--gestures] [--seed N]\n");
            return 2;
        }
    }
    const int grid = brief ? 4 : 9;
    const double lineSeconds = brief ? 1.5 : 2.0;
    const double stroke = brief ? 1.0 : 3.0;
    const double idle = brief ? 1.0 : 10.0;
    std::printf(
        "Touch-screen test procedures on %zu foil models (B64, %.0f fps, both touch paths in "
        "two-finger native touch mode). Millimetres on the example 55-inch foil: "
        "X pitch %.1f mm, Y pitch %.1f mm.\n",
        std::size(kModels), kRate, kFoil.pitchXMm, kFoil.pitchYMm);
    for (const FoilModel& model : kModels) {
        Figures figures[2];
        for (const TouchPath path : {TouchPath::Classic, TouchPath::Precise}) {
            const Setup setup{model, path, seed};
            Figures& f = figures[path == TouchPath::Classic ? 0 : 1];
            StillPoints(setup, grid, f);
            Lines(setup, lineSeconds, f);
            TwoFingers(setup, stroke, gestureLines, f);
            PalmAndIdle(setup, idle, f);
        }
        Print(model, figures[0], figures[1], grid * grid, idle);
    }
    return 0;
}
