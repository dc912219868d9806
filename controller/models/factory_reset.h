// The factory reset of the "Advanced" page as a step machine driven by a timer, so the window
// keeps working while it runs: stop the driver, delete its settings once it has ended, start
// it, ask the first-run questions, and restart it on the chosen model.
#pragma once

#include <cstdint>
#include <functional>

#include "common/clock.h"

namespace kv::controller {

// Pauses between the steps.
inline constexpr int kResetStopWaitMs = 1000;
inline constexpr int kResetDeleteWaitMs = 100;
inline constexpr int kResetStartWaitMs = 1000;
// How long a step waits for the old driver to end (or the new one to answer) at most.
inline constexpr int kResetDriverWaitMs = 5000;

struct FactoryResetActions {
    std::function<void(int percent)> progress;
    std::function<void()> stopDriver;
    std::function<bool()> driverEnded;     // the old driver has let go of its lock
    std::function<void()> deleteSettings;  // DRIVER.INI, and KELVARIN.INI if an old one is left
    std::function<void()> startDriver;
    std::function<bool()> driverAnswers;        // the new driver's records have arrived
    std::function<bool()> runFirstRunDialog;    // modal; true when confirmed
    std::function<void()> applyFirstRunChoice;  // the chosen model and language
    std::function<void()> finished;             // also after a cancel
};

class FactoryReset {
public:
    FactoryReset(FactoryResetActions actions, const Clock& clock);

    // Begins with stopping the driver.
    void Start();
    // Takes the next step once its wait is over; call it from a timer.
    void Tick();
    // Ends the reset at once (its window closed, the Controller quits): a driver this reset
    // has stopped is started again, so the foil is never left without one.
    void Cancel();
    bool Running() const { return phase_ != Phase::Idle; }

private:
    enum class Phase {
        Idle,
        WaitOldEnded,       // after the first stop
        WaitDeleted,        // after deleting the settings
        WaitStarted,        // after the first start
        WaitOldEndedAgain,  // after the stop that follows the first-run dialog
        WaitRestarted,      // after the final start
    };
    int64_t Elapsed() const { return clock_.NowMs() - since_; }
    bool OldDriverGone() const;
    void Enter(Phase phase);

    FactoryResetActions actions_;
    const Clock& clock_;
    Phase phase_ = Phase::Idle;
    int64_t since_ = 0;
    bool inStep_ = false;
    bool cancelAfterStep_ = false;
};

}  // namespace kv::controller
