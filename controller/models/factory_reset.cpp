// The factory reset's steps.
#include "controller/models/factory_reset.h"

#include <utility>

namespace kv::controller {

FactoryReset::FactoryReset(FactoryResetActions actions, const Clock& clock)
    : actions_(std::move(actions)), clock_(clock) {}

void FactoryReset::Enter(Phase phase) {
    phase_ = phase;
    since_ = clock_.NowMs();
}

bool FactoryReset::OldDriverGone() const {
    // The settings file and the new driver's lock must not meet a driver that is still ending;
    // one that never lets go is given up on after a while.
    if (Elapsed() < kResetStopWaitMs) {
        return false;
    }
    return actions_.driverEnded() || Elapsed() >= kResetDriverWaitMs;
}

void FactoryReset::Start() {
    if (Running()) {
        return;
    }
    actions_.progress(5);
    actions_.stopDriver();
    Enter(Phase::WaitOldEnded);
}

void FactoryReset::Tick() {
    // The first-run dialog runs its own event loop, where the timer keeps firing.
    if (inStep_) {
        return;
    }
    inStep_ = true;
    switch (phase_) {
        case Phase::Idle:
            break;
        case Phase::WaitOldEnded:
            if (OldDriverGone()) {
                actions_.progress(25);
                actions_.deleteSettings();
                Enter(Phase::WaitDeleted);
            }
            break;
        case Phase::WaitDeleted:
            if (Elapsed() >= kResetDeleteWaitMs) {
                actions_.progress(45);
                actions_.startDriver();
                Enter(Phase::WaitStarted);
            }
            break;
        case Phase::WaitStarted:
            // The chosen model must reach a driver that listens.
            if (Elapsed() >= kResetStartWaitMs &&
                (actions_.driverAnswers() || Elapsed() >= kResetDriverWaitMs)) {
                actions_.progress(70);
                if (actions_.runFirstRunDialog()) {
                    actions_.progress(90);
                    actions_.applyFirstRunChoice();
                }
                actions_.stopDriver();
                Enter(Phase::WaitOldEndedAgain);
            }
            break;
        case Phase::WaitOldEndedAgain:
            if (OldDriverGone()) {
                actions_.progress(95);
                actions_.startDriver();
                actions_.progress(99);
                Enter(Phase::WaitRestarted);
            }
            break;
        case Phase::WaitRestarted:
            // Done once the new driver has told its settings, so the window shows them.
            if (Elapsed() >= kResetStartWaitMs &&
                (actions_.driverAnswers() || Elapsed() >= kResetDriverWaitMs)) {
                phase_ = Phase::Idle;
                actions_.finished();
            }
            break;
    }
    inStep_ = false;
    if (cancelAfterStep_) {
        cancelAfterStep_ = false;
        Cancel();
    }
}

void FactoryReset::Cancel() {
    if (inStep_) {
        cancelAfterStep_ = true;  // the first-run dialog is open inside this step
        return;
    }
    if (!Running()) {
        return;
    }
    const bool driverStopped = phase_ == Phase::WaitOldEnded || phase_ == Phase::WaitDeleted ||
                               phase_ == Phase::WaitOldEndedAgain;
    phase_ = Phase::Idle;
    if (driverStopped) {
        actions_.startDriver();
    }
    actions_.finished();
}

}  // namespace kv::controller
