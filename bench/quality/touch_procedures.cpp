// The touch-screen test procedures: scripted strokes played to the simulated board, and the
// figures taken from the virtual touch device's contacts.
#include "bench/quality/touch_procedures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/quality/quality_math.h"

namespace kv::quality {
namespace {

constexpr double kSettle = 5.0;  // the baseline settles before the first touch
// Before the position procedures the foil is used for a while, as it is before anyone measures
// it: a finger drawn corner to corner and back (the precise path learns the electrodes' gains
// from such use; the classic path learns nothing from it).
constexpr double kUseSeconds = 30.0;

const ExampleFoil kFoil;

// A finger's path in a scripted gesture: still at `from` or moving to `to` over
// [start, start + duration], on the foil over [down, up].
struct Stroke {
    Point from;
    Point to;
    double down = 0.0;
    double start = 0.0;
    double duration = 0.0;
    double up = 0.0;
    double strength = 30.0;
    double size = 0.0;  // 0: the model's finger
    bool back = false;  // then back to `from` over the same time

    Point At(double t) const {
        if (duration <= 0.0 || t <= start) {
            return from;
        }
        double f = std::min(1.0, (t - start) / duration);
        if (back && t > start + duration) {
            f = std::max(0.0, 2.0 - (t - start) / duration);
        }
        return {from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f};
    }
};

std::string Scenario(const Setup& setup, const std::vector<Stroke>& strokes, double end,
                     const char* extra = "") {
    std::string text = "layout B64\nrate 100\nseed " + std::to_string(setup.seed) + "\n";
    text += setup.model.lines;
    text += extra;
    char line[160];
    struct Timed {
        double t;
        std::string text;
    };
    std::vector<Timed> events;
    for (size_t i = 0; i < strokes.size(); ++i) {
        const Stroke& s = strokes[i];
        const int finger = static_cast<int>(i % 16);
        if (s.size > 0.0) {
            std::snprintf(line, sizeof line, "down %d %.4f %.4f %.1f %.2f", finger, s.from.x,
                          s.from.y, s.strength, s.size);
        } else {
            std::snprintf(line, sizeof line, "down %d %.4f %.4f %.1f", finger, s.from.x, s.from.y,
                          s.strength);
        }
        events.push_back({s.down, line});
        if (s.duration > 0.0) {
            std::snprintf(line, sizeof line, "move %d %.4f %.4f %.3f", finger, s.to.x, s.to.y,
                          s.duration);
            events.push_back({s.start, line});
            if (s.back) {
                std::snprintf(line, sizeof line, "move %d %.4f %.4f %.3f", finger, s.from.x,
                              s.from.y, s.duration);
                events.push_back({s.start + s.duration, line});
            }
        }
        std::snprintf(line, sizeof line, "up %d", finger);
        events.push_back({s.up, line});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Timed& a, const Timed& b) { return a.t < b.t; });
    for (const Timed& e : events) {
        std::snprintf(line, sizeof line, "at %.3f ", e.t);
        text += line + e.text + "\n";
    }
    std::snprintf(line, sizeof line, "at %.3f end\n", end);
    return text + line;
}

// A normalised foil position in millimetres on the example foil, and distances there.
Point OnFoilMm(Point p) {
    return {p.x * (kCountX - 1) * kFoil.pitchXMm, p.y * (kCountY - 1) * kFoil.pitchYMm};
}
double Mm(Point a, Point b) {
    const Point ma = OnFoilMm(a);
    const Point mb = OnFoilMm(b);
    return std::hypot(ma.x - mb.x, ma.y - mb.y);
}
double Pitches(Point a, Point b) {
    return std::hypot((a.x - b.x) * (kCountX - 1), (a.y - b.y) * (kCountY - 1));
}

// One contact of the virtual touch device from its landing to its lift.
struct Touch {
    int number = 0;
    double down = 0.0;  // scenario time of the landing report's frame
    double up = -1.0;   // of the lift; negative: still down at the end
    std::vector<double> times;
    std::vector<Point> points;
};

std::vector<Touch> Touches(const std::vector<ContactEvent>& events) {
    std::vector<Touch> touches;
    int open[3] = {-1, -1, -1};
    for (const ContactEvent& e : events) {
        const int n = e.number == 2 ? 2 : 1;
        if (e.state == 3) {
            if (open[n] < 0) {
                open[n] = static_cast<int>(touches.size());
                touches.push_back({n, e.frameTime, -1.0, {}, {}});
            }
            Touch& touch = touches[static_cast<size_t>(open[n])];
            touch.times.push_back(e.frameTime);
            touch.points.push_back({e.x, e.y});
        } else if (e.state == 0 && open[n] >= 0) {
            touches[static_cast<size_t>(open[n])].up = e.frameTime;
            open[n] = -1;
        }
    }
    return touches;
}

std::vector<Touch> Run(const Setup& setup, const std::vector<Stroke>& strokes, double end,
                       const char* extra = "") {
    TouchRig rig(Scenario(setup, strokes, end, extra), false, TouchMode::TwoFingerNative,
                 setup.path);
    rig.RunUntil(end + 0.5);
    return Touches(rig.Contacts());
}

bool Inside(Point p) {
    const double px = p.x * (kCountX - 1);
    const double py = p.y * (kCountY - 1);
    return px >= 1.0 && px <= kCountX - 2.0 && py >= 1.0 && py <= kCountY - 2.0;
}

double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

Stroke Use() {
    Stroke use{{0.02, 0.02},  {0.98, 0.98}, kSettle,
               kSettle + 0.2, kUseSeconds,  kSettle + 0.2 + 2.0 * kUseSeconds};
    use.back = true;
    return use;
}
// When the procedure's own strokes begin, after the use and a pause.
constexpr double kAfterUse = kSettle + 0.2 + 2.0 * kUseSeconds + 1.0;

}  // namespace

void StillPoints(const Setup& setup, int grid, Figures& f) {
    std::vector<Stroke> strokes;
    double t = kAfterUse;
    for (int k = 0; k < grid * grid; ++k) {
        const GridCell cell = GridVisit(k, grid);
        const Point at{cell.i / (grid - 1.0), cell.j / (grid - 1.0)};
        strokes.push_back({at, at, t, t, 0.0, t + 0.6});
        t += 0.9;
    }
    std::vector<Stroke> all{Use()};
    all.insert(all.end(), strokes.begin(), strokes.end());
    std::vector<Touch> touches = Run(setup, all, t);
    std::erase_if(touches, [](const Touch& touch) { return touch.down < kAfterUse; });
    std::vector<double> inside, edge, down, lift;
    int within = 0, reports = 0;
    double reportTime = 0.0;
    for (const Stroke& s : strokes) {
        // The touch of this stroke: the first landing during it.
        const Touch* touch = nullptr;
        for (const Touch& candidate : touches) {
            if (candidate.down >= s.down && candidate.down < s.up) {
                touch = &candidate;
                break;
            }
        }
        if (touch == nullptr) {
            continue;
        }
        ++f.stillTouches;
        down.push_back((touch->down - s.down) * kRate);
        if (touch->up >= 0.0) {
            lift.push_back((touch->up - s.up) * kRate);
        }
        double sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0;
        int n = 0;
        for (size_t i = 0; i < touch->points.size(); ++i) {
            if (touch->times[i] >= s.up) {
                break;
            }
            const Point p = touch->points[i];
            const double e = Pitches(p, s.from);
            (Inside(s.from) ? inside : edge).push_back(e);
            within += Mm(p, s.from) <= 1.0 ? 1 : 0;
            ++reports;
            const Point m = OnFoilMm(p);
            sx += m.x, sy += m.y, sxx += m.x * m.x, syy += m.y * m.y;
            ++n;
        }
        reportTime += s.up - touch->down;
        if (n > 1) {
            const double var = (sxx - sx * sx / n + syy - sy * sy / n) / n;
            f.jitterMm = std::max(f.jitterMm, std::sqrt(std::max(0.0, var)));
        }
    }
    std::sort(inside.begin(), inside.end());
    std::sort(edge.begin(), edge.end());
    f.stillPoints = static_cast<int>(strokes.size());
    f.extraTouches = static_cast<int>(touches.size()) - f.stillTouches;
    f.within1mm = reports > 0 ? 100.0 * within / reports : 0.0;
    f.p95Inside = SortedPercentile(inside, 95.0);
    f.p95Edge = SortedPercentile(edge, 95.0);
    f.p95InsideMm = f.p95Inside * kFoil.pitchXMm;
    f.downFrames = Median(down);
    f.liftFrames = Median(lift);
    f.reportRate = reportTime > 0.0 ? reports / reportTime : 0.0;
}

void Lines(const Setup& setup, double seconds, Figures& f) {
    const Point lines[3][2] = {
        {{0.1, 0.43}, {0.9, 0.43}}, {{0.1, 0.1}, {0.9, 0.9}}, {{0.43, 0.1}, {0.43, 0.9}}};
    std::vector<double> lagsOut, lagsBack;
    for (int l = 0; l < 3; ++l) {
        const double t = kAfterUse;
        // Out and back, so that a position error along the line cancels in the lag.
        Stroke s{lines[l][0], lines[l][1], t, t + 0.3, seconds, t + 0.3 + 2.0 * seconds};
        s.back = true;
        const std::vector<Touch> touches = Run(setup, {Use(), s}, s.up + 0.3);
        std::vector<Point> mm;
        for (const Touch& touch : touches) {
            for (size_t i = 0; i < touch.points.size(); ++i) {
                // The middle 80 % of each way.
                const double along = std::fmod((touch.times[i] - s.start) / s.duration, 1.0);
                const bool out = touch.times[i] < s.start + s.duration;
                if (touch.times[i] < s.start || touch.times[i] >= s.up || along < 0.1 ||
                    along > 0.9) {
                    continue;
                }
                const Point p = touch.points[i];
                mm.push_back(OnFoilMm(p));
                if (l == 0) {
                    const double speed = (s.to.x - s.from.x) / s.duration;
                    const ConstantMove move =
                        out ? ConstantMove{s.from.x, s.start, speed}
                            : ConstantMove{s.to.x, s.start + s.duration, -speed};
                    (out ? lagsOut : lagsBack)
                        .push_back(LagFrames(move, touch.times[i], p.x, kRate) / kRate * 1000.0);
                }
            }
        }
        f.linearityMm[l] = DeviationFromLine(mm, OnFoilMm(lines[l][0]), OnFoilMm(lines[l][1])).max;
    }
    f.lagMs = (Median(lagsOut) + Median(lagsBack)) / 2.0;
}

// The two-finger gestures: each must give exactly two touches, keep a still finger still and
// report no point away from both fingers.
void TwoFingers(const Setup& setup, double stroke, bool gestureLines, Figures& f) {
    const double t = kSettle;
    const double end = t + 0.9 + stroke;
    // Two fingers never land in the same frame nor press alike, as real ones do not: on a foil
    // that senses rows and columns, two equal fingers landing together could be either pair.
    auto still = [&](Point p) { return Stroke{p, p, t, t, 0.0, end}; };
    auto moving = [&](Point a, Point b, bool second = true) {
        return Stroke{a, b, t + (second ? 0.45 : 0.3), t + 0.6, stroke, end, second ? 26.0 : 30.0};
    };
    struct Gesture {
        std::vector<Stroke> strokes;
        int stillIndex;  // -1: none still
        const char* name = "";
    };
    std::vector<Gesture> gestures;
    // Tracking side by side in six directions.
    const Point directions[6] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {0.7, 0.7}, {-0.7, -0.7}};
    const char* const directionNames[6] = {"tracking +x", "tracking -x",   "tracking +y",
                                           "tracking -y", "tracking +x+y", "tracking -x-y"};
    for (size_t k = 0; k < 6; ++k) {
        const Point& d = directions[k];
        const Point a{0.5 - 0.3 * d.x - 0.1 * d.y, 0.5 - 0.3 * d.y + 0.1 * d.x};
        const Point b{0.5 - 0.3 * d.x + 0.1 * d.y, 0.5 - 0.3 * d.y - 0.1 * d.x};
        const Point shift{0.5 * d.x, 0.5 * d.y};
        gestures.push_back({{moving(a, {a.x + shift.x, a.y + shift.y}, false),
                             moving(b, {b.x + shift.x, b.y + shift.y})},
                            -1,
                            directionNames[k]});
    }
    // Crossing a still finger: above it, below it, and through it diagonally.
    const Point centre{0.5, 0.5};
    gestures.push_back({{still(centre), moving({0.15, 0.4}, {0.85, 0.4})}, 0, "crossing above"});
    gestures.push_back({{still(centre), moving({0.15, 0.6}, {0.85, 0.6})}, 0, "crossing below"});
    gestures.push_back({{still(centre), moving({0.2, 0.2}, {0.8, 0.8})}, 0, "crossing through"});
    // A resting finger and a second one moving beside it; two close fingers; a pinch.
    gestures.push_back(
        {{still({0.3, 0.3}), moving({0.6, 0.2}, {0.6, 0.8})}, 0, "resting and moving"});
    gestures.push_back({{moving({0.2, 0.45}, {0.8, 0.45}, false), moving({0.2, 0.55}, {0.8, 0.55})},
                        -1,
                        "two close fingers"});
    gestures.push_back(
        {{moving({0.25, 0.3}, {0.45, 0.45}, false), moving({0.75, 0.7}, {0.55, 0.55})},
         -1,
         "pinch"});
    for (const Gesture& g : gestures) {
        const std::vector<Touch> touches = Run(setup, g.strokes, end + 0.3);
        ++f.gestures;
        const int offBefore = f.pointsOff;
        const double movedBefore = f.stillMovedMm;
        f.stillMovedMm = 0.0;
        const int ids = static_cast<int>(touches.size());
        f.mostIds = std::max(f.mostIds, ids);
        f.gesturesWithTwoIds += ids == 2 ? 1 : 0;
        for (const Touch& touch : touches) {
            for (size_t i = 0; i < touch.points.size(); ++i) {
                const double time = touch.times[i];
                const Point p = touch.points[i];
                // Off both fingers: farther than 10 mm from where either was in the last 0.1 s.
                double nearest = 1e9;
                for (const Stroke& s : g.strokes) {
                    for (double back = 0.0; back <= 0.1; back += 0.01) {
                        nearest = std::min(nearest, Mm(p, s.At(time - back)));
                    }
                }
                f.pointsOff += nearest > 10.0 ? 1 : 0;
            }
        }
        if (g.stillIndex >= 0) {
            // The still finger's touch: the one that landed first, nearest to it.
            const Stroke& s = g.strokes[static_cast<size_t>(g.stillIndex)];
            for (const Touch& touch : touches) {
                if (touch.points.empty() || Mm(touch.points.front(), s.from) > 10.0) {
                    continue;
                }
                for (const Point& p : touch.points) {
                    f.stillMovedMm = std::max(f.stillMovedMm, Mm(p, touch.points.front()));
                }
            }
        }
        if (gestureLines) {
            std::printf(
                "  %s %s, gesture %d (%s): %d ids, still finger moved %.1f mm, %d points "
                "off\n",
                setup.model.name, setup.path == TouchPath::Classic ? "classic" : "precise",
                f.gestures, g.name, ids, f.stillMovedMm, f.pointsOff - offBefore);
        }
        f.stillMovedMm = std::max(f.stillMovedMm, movedBefore);
    }
}

void PalmAndIdle(const Setup& setup, double idleMinutes, Figures& f) {
    // On a foil in use (the precise path has learnt what a finger reads), and as the first
    // touch after start.
    for (const double t : {kAfterUse, kSettle}) {
        std::vector<Stroke> strokes{{{0.5, 0.5}, {0.5, 0.5}, t, t, 0.0, t + 1.0, 60.0, 2.8}};
        if (t > kSettle) {
            strokes.insert(strokes.begin(), Use());
        }
        std::vector<Touch> touches = Run(setup, strokes, t + 1.5);
        std::erase_if(touches, [t](const Touch& touch) { return touch.down < t; });
        (t > kSettle ? f.palmContacts : f.palmFirstContacts) = static_cast<int>(touches.size());
    }
    f.idleMinutes = idleMinutes;
    f.idleTouches = static_cast<int>(Run(setup, {}, idleMinutes * 60.0, "rise 8\n").size());
    // The board goes while a finger is on it: the contact must not outlive its frames.
    std::string text = "layout B64\nrate 100\nseed " + std::to_string(setup.seed) + "\n" +
                       setup.model.lines +
                       "at 5 down 0 0.5 0.5 30\nat 5.5 unplug\nat 7 up 0\nat 7.5 end\n";
    TouchRig rig(text, false, TouchMode::TwoFingerNative, setup.path);
    rig.RunUntil(7.5);
    for (const Touch& touch : Touches(rig.Contacts())) {
        if (touch.down < 5.5 && touch.up >= 5.5) {
            f.unpluggedLiftMs = (touch.up - 5.5) * 1000.0;
        }
    }
}

}  // namespace kv::quality
