// A speed-adaptive low-pass filter for a touch position (the "1 euro" filter): a first-order
// low-pass whose cutoff rises with the finger's speed, so a resting finger is smoothed hard
// (little jitter) and a moving one hardly at all (little lag). Fixed state, nothing allocated.
#pragma once

namespace kv {

class OneEuroFilter {
public:
    struct Tuning {
        // The cutoff at rest. Low: a resting finger's place is in effect the mean of its frames
        // since it landed, which a still point's jitter needs on foils whose placement is noisy,
        // and for a second and a half, so that a still finger beside a moving one (whose signal
        // pulls at its placement while it passes) keeps to the mean of its whole rest.
        double minCutoffHz = 0.1;
        double speedCoefficient = 30.0;  // cutoff gained per unit of speed (of the foil per second)
        // Low-pass of the speed estimate itself: slow, so that the placement's noise does not
        // read as motion and open the filter on a resting finger.
        double speedCutoffHz = 0.5;
    };

    OneEuroFilter() = default;
    explicit OneEuroFilter(Tuning tuning) : tuning_(tuning) {}

    // The filtered value of one new sample, dt seconds after the last (dt > 0).
    double Filter(double value, double dt);
    // The next sample starts afresh (a finger has landed). What the filter has learnt of its
    // input's noise stays, as the start of what the new touch learns of its own.
    void Reset() {
        started_ = false;
        taken_ = 0;
    }
    // Whether value, as a touch's second sample, lies farther from its first than the input's
    // noise accounts for: noise that passes the threshold on both axes in the frame before a
    // finger lands begins its touch, pitches away from it.
    bool FarFromFirst(double value) const;
    // The touch's samples so far are dropped: the next starts it afresh.
    void Restart() { started_ = false; }
    // The variance learnt of the input's own noise, frame to frame.
    double Noise() const { return noise_; }

private:
    static double Alpha(double cutoffHz, double dt);

    // Samples after a landing over which the output is at least their running mean: until the
    // resting cutoff's own weight (about 1/160 a frame at 100 fps) takes over.
    static constexpr int kWarmUp = 160;
    // The input's noise is learnt from its second differences, which a steady move leaves at
    // nothing and white noise gives six times its variance, with a memory of about a second;
    // a speed within this many of the deviations that noise alone gives the speed estimate is
    // not taken for motion. The noise differs from place to place (a narrow finger beside an
    // electrode is placed several times as noisily as one between two), so a touch's first
    // kNoiseOwn second differences are averaged with what the last touches left (as one
    // more), and the memory of a second takes over from there. Learnt from so few, the noise's
    // deviation is itself off by a fifth either way, hence the half deviation over three.
    static constexpr double kNoiseRate = 0.01;
    static constexpr double kNoiseDeviations = 3.5;
    static constexpr int kNoiseOwn = 10;
    // How far a touch's second sample must lie from its first to be far from it: beyond this many
    // deviations of the input's noise, and beyond this share of the foil at the least (the
    // noise is not known before the first touch, and a rare frame is noisier than most).
    static constexpr double kLandingJump = 6.0;
    static constexpr double kLandingReach = 0.03;

    Tuning tuning_;
    bool started_ = false;
    int taken_ = 0;  // samples since the touch began, up to 2
    int samples_ = 0;
    double value_ = 0.0;
    double speed_ = 0.0;
    double noise_ = 0.0;
    double last_ = 0.0;  // the last sample, and the one before it
    double before_ = 0.0;
    int history_ = 0;  // samples of this touch behind the current one, at most 2
    int seconds_ = 0;  // second differences of this touch, up to kNoiseOwn + 1
};

}  // namespace kv
