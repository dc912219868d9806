// Auto adaption: the search for the sensitivity at which the untouched foil's noise sits just
// below a fixed threshold, then calibration, then touch output on. It runs as a timer-driven
// state machine, one short step per timer tick, so the window keeps painting during the
// 3 s attempts. Plain C++: the page supplies the timer, the level and the senders.
#pragma once

#include <cstdint>
#include <functional>

namespace kv::controller {

// The fixed threshold the noise is held below, and where the search starts.
inline constexpr int32_t kAdaptionThreshold = 5;
inline constexpr int32_t kAdaptionStartSensitivity = 8;
inline constexpr int32_t kAdaptionMinSensitivity = 5;
inline constexpr int32_t kAdaptionMaxSensitivity = 15;
inline constexpr int kAdaptionAttempts = 8;
// Each attempt: settle after the new sensitivity is sent, then sample the level.
inline constexpr int kAdaptionSettleMs = 1000;
inline constexpr int kAdaptionSamples = 20;
inline constexpr int kAdaptionSampleGapMs = 100;
// The pause after output is switched on, before the bar shows it.
inline constexpr int kAdaptionEnableMs = 200;

class AutoAdaption {
public:
    enum class State { Idle, Settling, Sampling, Enabling };
    enum class Result { Success, Failure, Cancelled };

    struct Hooks {
        // Calls Tick() once after this many milliseconds (a single-shot timer).
        std::function<void(int ms)> schedule;
        // The Sense status level as the driver last published it.
        std::function<float()> level;
        // Writes CoarseRange and PressThreshold and sends "Sense" / "State".
        std::function<void(int32_t sensitivity, int32_t threshold)> sendSense;
        // Raises the save request.
        std::function<void()> save;
        // Runs the calibration dialog to its end; true when it completed.
        std::function<bool()> calibrate;
        // Writes Output Enable = true and sends "Output" / "State".
        std::function<void()> enableOutput;
        // The progress bar's value, 0 .. 100.
        std::function<void(int percent)> progress;
        // The end: Success only when search, calibration and enabling all went through.
        std::function<void(Result result)> finished;
    };

    explicit AutoAdaption(Hooks hooks) : hooks_(std::move(hooks)) {}

    // Starts a run from the values in effect now (which a cancelled run puts back); ignored
    // while one is running.
    void Start(int32_t sensitivityBefore, int32_t thresholdBefore);
    // Stops a search (the user closed the progress window): the values in effect before the
    // run are sent again and the run ends Cancelled. A run past its search goes on to its end.
    void Cancel();
    // One timer step.
    void Tick();

    bool Running() const { return state_ != State::Idle; }
    State CurrentState() const { return state_; }
    // The sensitivity of the latest attempt (the one in effect after a failed search).
    int32_t Sensitivity() const { return tried_; }
    int Attempts() const { return attempts_; }
    int Progress() const { return progress_; }

private:
    void BeginAttempt();
    void Evaluate();
    void Finish(Result result);
    void SetProgress(int percent);

    Hooks hooks_;
    State state_ = State::Idle;
    int32_t sensitivity_ = kAdaptionStartSensitivity;
    int32_t tried_ = kAdaptionStartSensitivity;
    int attempts_ = 0;
    int samples_ = 0;
    float maximum_ = 0.0f;
    int progress_ = 0;
    int32_t sensitivityBefore_ = 0;
    int32_t thresholdBefore_ = 0;
};

}  // namespace kv::controller
