// The touch-screen test procedures of the touch bench, each run on one foil model and one
// touch path through the driver's whole path; touch_bench.cpp prints their figures.
#pragma once

#include "bench/quality/touch_rig.h"

namespace kv::quality {

constexpr double kRate = 100.0;
constexpr int kCountX = 24;  // B64
constexpr int kCountY = 40;

// Foil models unlike one another: the first is the one the driver's interpolation assumes.
struct FoilModel {
    const char* name;
    const char* what;
    const char* lines;  // scenario setting lines
};

// One foil model measured on one touch path.
struct Setup {
    const FoilModel& model;
    TouchPath path;
    int seed = 7;  // the simulated board's noise and gains
};

struct Figures {
    // still points
    double within1mm = 0.0;                 // share of reports within 1 mm of the finger
    double p95Inside = 0.0, p95Edge = 0.0;  // error of the reports, pitches
    double p95InsideMm = 0.0;
    double jitterMm = 0.0;  // largest standard deviation of a still touch
    int stillTouches = 0, stillPoints = 0;
    int extraTouches = 0;  // beyond one per still finger: a lift while it stays, or a ghost
    double downFrames = 0.0, liftFrames = 0.0;  // median delays
    double reportRate = 0.0;
    // lines
    double linearityMm[3] = {0.0, 0.0, 0.0};
    double lagMs = 0.0;
    // two fingers
    int gestures = 0, gesturesWithTwoIds = 0, mostIds = 0;
    double stillMovedMm = 0.0;
    int pointsOff = 0;
    // palm and idle
    int palmContacts = 0;       // on a foil in use
    int palmFirstContacts = 0;  // as the first touch after start
    int idleTouches = 0;
    double unpluggedLiftMs = -1.0;  // negative: the contact never lifted
    double idleMinutes = 0.0;
};

// Still-point accuracy and jitter over a grid x grid of points, the delays and the report rate.
void StillPoints(const Setup& setup, int grid, Figures& f);
// The straight lines at 0, 45 and 90 degrees, each way drawn over seconds, and the move lag.
void Lines(const Setup& setup, double seconds, Figures& f);
// The two-finger gestures, each stroke that long; gestureLines: a line printed per gesture.
void TwoFingers(const Setup& setup, double stroke, bool gestureLines, Figures& f);
// The palm, the idle foil that drifts for idleMinutes, and the board going under a finger.
void PalmAndIdle(const Setup& setup, double idleMinutes, Figures& f);

}  // namespace kv::quality
