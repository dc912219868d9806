// The main loop: frame acquisition for every mux mode, reconnecting, the one-second tick and
// the two-second task, save, reload and stop requests.
#include "driver/board/main_loop.h"

#include <algorithm>
#include <string>
#include <utility>

namespace kv {

namespace {

constexpr int32_t kPairMux = 128;
constexpr size_t kPairHalf = 64;
// How often a wait without a read looks for a new mux size.
constexpr int kMuxPollMs = 10;

// A 128-channel frame starts after a report whose bytes 1..64 count 1, 2, ..., 64.
bool IsSyncReport(const std::array<uint8_t, kReportBufferBytes>& buffer) {
    for (size_t i = 1; i <= kPairHalf; ++i) {
        if (buffer[i] != i) {
            return false;
        }
    }
    return true;
}

}  // namespace

CHid::CHid(Registry& registry, SensorLink& link, FrameProcessor& processor, SettingsStore& settings,
           const Clock& clock, const VerboseLog& log)
    : registry_(registry),
      link_(link),
      processor_(processor),
      settings_(settings),
      clock_(clock),
      log_(log) {}

CHid::~CHid() {
    link_.Close();
}

void CHid::BuildEngine(CalibrationHook& calibration) {
    calibration_ = &calibration;
    ApplySettingsDefaults(registry_);
    settings_.Load(registry_);
    calibration.ComputeTransform();
    loop_ = LoopFields{};
}

bool CHid::Connect() {
    registry_.driverConfig.RunFlag0 = false;
    registry_.driverConfig.RunFlag1 = true;
    registry_.driverConfig.Publish();
    muxSize_ = registry_.commsReqState.MuxSize;
    // Stop and save are served in the pauses here as in any reconnect: a driver started
    // without its board must not keep a user who stops it waiting for all the attempts.
    if (!OpenWithRetries(true) && !stopRequested_) {
        log_.Say("no sensor board found; retrying");
    }
    return true;
}

void CHid::Run() {
    running_ = !stopRequested_;  // a stop served while connecting ends the run before it starts
    while (running_) {
        LoopIteration();
    }
}

void CHid::LoopIteration() {
    switch (Acquire()) {
        case Acquired::LinkLost:
            Reconnect();
            return;
        case Acquired::Nothing:
            return;
        case Acquired::Silent:
            Silence();
            return;
        case Acquired::Frame:
            break;
    }

    const int64_t now = clock_.NowMs();
    if (loop_.lastFrame > 0) {
        loop_.longestGapThisPeriod = std::max(loop_.longestGapThisPeriod, now - loop_.lastFrame);
    }
    loop_.lastFrame = now;
    loop_.liftedSilent = false;
    registry_.commsActStatus.Connected = true;
    ++loop_.framesThisPeriod;
    processor_.ProcessFrame(muxSize_, buffer_.data() + 1, buffer_.size() - 1);
    Tick();
    ServeSave();
    if (ServeStop()) {
        return;
    }
    const int32_t requested = registry_.commsReqState.MuxSize;
    if (requested != muxSize_) {
        log_.Say("mux size " + std::to_string(muxSize_) + " -> " + std::to_string(requested));
        muxSize_ = requested;
    }
}

CHid::Acquired CHid::Acquire() {
    if (muxSize_ == kPairMux) {
        return AcquirePair();
    }
    if (muxSize_ >= 40 && muxSize_ <= 64) {
        return AcquireOne();
    }
    if (muxSize_ >= 16 && muxSize_ <= 39) {
        const Acquired acquired = AcquireOne();
        if (acquired != Acquired::Frame) {
            return acquired;
        }
        // The board centres the active channels in 40 bytes; move them to 1..mux size.
        const int32_t d = (40 - muxSize_) / 2;
        for (int32_t i = 1; i <= muxSize_; ++i) {
            std::swap(buffer_[static_cast<size_t>(i)], buffer_[static_cast<size_t>(i + d)]);
        }
        return Acquired::Frame;
    }
    // No read: the buffer is processed as it is.
    WaitAsARead();
    return Acquired::Frame;
}

void CHid::Silence() {
    // Nothing to process, but the loop goes on: the ticks, saves and stops are still served.
    const int64_t now = clock_.NowMs();
    const int64_t period =
        loop_.framesLastPeriod > 0 ? 2000 / loop_.framesLastPeriod : kSilentLiftMs;
    // A board that pauses now and then while it works (a busy hub, an emulated machine) is
    // given twice its longest pause of the last two to four seconds, up to kSilentPauseMs.
    const int64_t pause = std::min<int64_t>(
        2 * std::max(loop_.longestGapThisPeriod, loop_.longestGapLastPeriod), kSilentPauseMs);
    if (!loop_.liftedSilent &&
        now - loop_.lastFrame >= std::max({int64_t{kSilentLiftMs}, 4 * period, pause})) {
        loop_.liftedSilent = true;
        log_.Say("sensor board silent; touches lifted");
        processor_.LiftTouches();
    }
    Tick();
    ServeSave();
    ServeStop();
}

void CHid::WaitAsARead() {
    // Without a read nothing paces the loop; wait as long as a silent board's read would so
    // that a mux size no board mode knows does not spin a core. A new mux size ends the wait,
    // since it applies from the next iteration.
    for (int waited = 0; waited < kReadTimeoutMs; waited += kMuxPollMs) {
        if (registry_.commsReqState.MuxSize != muxSize_) {
            return;
        }
        clock_.SleepMs(std::min(kMuxPollMs, kReadTimeoutMs - waited));
    }
}

CHid::Acquired CHid::AcquireOne() {
    if (!link_.Alive() || link_.Read(buffer_.data(), buffer_.size()) < 0) {
        return Acquired::LinkLost;
    }
    // A read that timed out leaves the last frame in the buffer: processing it again would
    // hold every touch of it for as long as the board stays silent.
    return link_.LastDelivered() > 0 ? Acquired::Frame : Acquired::Silent;
}

CHid::Acquired CHid::AcquirePair() {
    int reads = 0;
    bool synced = false;
    do {
        if (!link_.Alive() || link_.Read(buffer_.data(), buffer_.size()) < 0) {
            return Acquired::LinkLost;
        }
        if (link_.LastDelivered() == 0) {
            return Acquired::Silent;
        }
        ++reads;
        synced = IsSyncReport(buffer_);
    } while (!synced && reads < kSyncSearchReads);
    if (reads >= kSyncSearchReads) {
        return Acquired::Nothing;  // also when the last read allowed was the sync report
    }

    if (!link_.Alive() || link_.Read(buffer_.data(), buffer_.size()) < 0) {
        registry_.commsActStatus.Connected = false;
        return Acquired::Nothing;
    }
    // The second report's ID lands on index 64, over the first report's last sample.
    const uint8_t kept = buffer_[kPairHalf];
    if (!link_.Alive() || link_.Read(buffer_.data() + kPairHalf, buffer_.size() - kPairHalf) < 0) {
        registry_.commsActStatus.Connected = false;
        return Acquired::Nothing;
    }
    buffer_[kPairHalf] = kept;
    std::reverse(buffer_.begin() + 1, buffer_.begin() + 1 + 2 * kPairHalf);
    return Acquired::Frame;
}

bool CHid::OpenWithRetries(bool honourCommands) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        if (link_.Open()) {
            if (!linkUp_) {
                log_.Say("sensor board opened");
            }
            linkUp_ = true;
            return true;
        }
        clock_.SleepMs(kOpenRetryMs);
        // Without a board no frame flows, so this is the only place a stop or a save can be
        // served; otherwise the driver could neither be stopped nor save its settings.
        if (honourCommands) {
            BeatWhileAbsent();
            ServeSave();
            if (ServeStop()) {
                return false;
            }
        }
    }
    return false;
}

void CHid::Reconnect() {
    CommsStatus& status = registry_.commsActStatus;
    status.Connected = false;
    if (linkUp_) {
        log_.Say("sensor board lost; retrying");
        linkUp_ = false;
        processor_.LiftTouches();
        // No frame means no two-second task, so without this a controller would keep showing
        // the last status: a working link at full frame rate. Said once per loss; the first
        // task after reconnecting publishes the live status again.
        status.FramesLastPeriod = 0;
        status.Publish();
    }
    OpenWithRetries(true);
}

void CHid::Tick() {
    if (clock_.NowMs() - loop_.lastTick > kTickMs) {
        loop_.lastTick = clock_.NowMs();
        loop_.tickPhase = (loop_.tickPhase - 1) & 1;
        if (loop_.tickPhase == 0) {
            TwoSecondTask();
        }
    }
}

void CHid::PublishHeartbeat() {
    // The heartbeat runs 0..254; a value received from outside the range is brought back in.
    SetValue& heartbeat = registry_.driverDoHeartBeat;
    const int64_t next = (int64_t{heartbeat.header.sequence} + 1) % 255;
    heartbeat.header.sequence = static_cast<int32_t>(next < 0 ? next + 255 : next);
    heartbeat.Publish();
}

void CHid::BeatWhileAbsent() {
    const int64_t now = clock_.NowMs();
    if (now - loop_.lastAbsentBeat < kAbsentBeatMs) {
        return;
    }
    loop_.lastAbsentBeat = now;
    PublishHeartbeat();
    CommsStatus& status = registry_.commsActStatus;
    status.Connected = false;
    status.FramesLastPeriod = 0;
    status.Publish();
}

void CHid::TwoSecondTask() {
    PublishHeartbeat();

    loop_.framesLastPeriod = loop_.framesThisPeriod;
    loop_.longestGapLastPeriod = loop_.longestGapThisPeriod;
    loop_.longestGapThisPeriod = 0;
    loop_.framesThisPeriod = 0;

    CommsStatus& status = registry_.commsActStatus;
    if (status.StatusWidth != loop_.statusWidth ||
        status.FramesLastPeriod != loop_.framesLastPeriod) {
        status.StatusWidth = loop_.statusWidth;
        status.FramesLastPeriod = loop_.framesLastPeriod;
        status.Publish();
    }

    processor_.SetGestureLimits(loop_.framesLastPeriod / 19, loop_.framesLastPeriod / 13);

    if (registry_.storeDoLoad.ConsumeCounted()) {
        log_.Say("reload requested");
        settings_.Load(registry_);
        // The file's calibration references take effect, not only show in the records.
        if (calibration_ != nullptr) {
            calibration_->ComputeTransform();
        }
    }

    processor_.MaintainHistories();
}

void CHid::ServeSave() {
    if (registry_.storeDoSave.ConsumeCounted()) {
        log_.Say("save requested");
        settings_.Save(registry_);
    }
    // Store/State tells peers how the latest save ended (set: it failed), so that a tool that
    // asked for a save can say whether it happened.
    if (const std::optional<bool> saved = settings_.TakeSaveOutcome()) {
        registry_.storeState.State = !*saved;
        registry_.storeState.Publish();
    }
}

bool CHid::ServeStop() {
    if (registry_.driverDoStop.ConsumeCounted()) {
        // A save sent before the stop has arrived before it, but may have landed after this
        // iteration looked for saves: served now, or it is lost with the driver (the
        // Controller's first run saves the sensor model and restarts the driver at once).
        ServeSave();
        log_.Say("stop requested");
        stopRequested_ = true;
        running_ = false;
        return true;
    }
    return false;
}

}  // namespace kv
