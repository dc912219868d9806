// A speed-adaptive low-pass filter for a touch position (the "1 euro" filter): a first-order
// low-pass whose cutoff rises with the finger's speed, so a resting finger is smoothed hard
// (little jitter) and a moving one hardly at all (little lag). Fixed state, nothing allocated.
#pragma once

namespace kv {

class OneEuroFilter {
public:
    struct Tuning {
        double minCutoffHz = 1.5;        // the cutoff at rest
        double speedCoefficient = 40.0;  // cutoff gained per unit of speed (of the foil per second)
        double speedCutoffHz = 1.0;      // low-pass of the speed estimate itself
    };

    OneEuroFilter() = default;
    explicit OneEuroFilter(Tuning tuning) : tuning_(tuning) {}

    // The filtered value of one new sample, dt seconds after the last (dt > 0).
    double Filter(double value, double dt);
    // The next sample starts afresh (a finger has landed).
    void Reset() { started_ = false; }

private:
    static double Alpha(double cutoffHz, double dt);

    // Samples after a landing over which the output is at least their running mean.
    static constexpr int kWarmUp = 8;

    Tuning tuning_;
    bool started_ = false;
    int samples_ = 0;
    double value_ = 0.0;
    double speed_ = 0.0;
};

}  // namespace kv
