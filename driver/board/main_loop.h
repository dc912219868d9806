// CHid, the driver's runtime object: the sensor link, the signal chain and the main
// loop that acquires frames, hands them on and does the periodic work between them.
#pragma once

#include <array>
#include <cstdint>

#include "common/clock.h"
#include "driver/core/frame_processor.h"
#include "driver/core/sensor_link.h"
#include "driver/core/settings_store.h"
#include "driver/core/verbose_log.h"
#include "protocol/registry.h"

namespace kv {

// Index 0 holds a report ID, 1..128 the samples; a report read to index 64 (the second of a
// 128-channel pair) still fits whole.
constexpr size_t kReportBufferBytes = kMaxInputReport + 64;
static_assert(kReportBufferBytes >= 129);

constexpr int kOpenAttempts = 8;
constexpr int kOpenRetryMs = 500;
constexpr int kTickMs = 1000;
// While the board is absent no frame drives the two-second task; the heartbeat and the link
// status still go out this often, so that a controller knows the driver lives and lacks its board.
constexpr int kAbsentBeatMs = 2000;
constexpr int kSyncSearchReads = 100;
// A board that stays attached but sends nothing for this long, for four of its frame periods
// and for twice its longest recent pause, has stopped: the touches it carried are lifted (a
// kiosk would otherwise keep a pressed pointer until the board came back).
constexpr int kSilentLiftMs = 80;
constexpr int kSilentPauseMs = 1000;
constexpr int32_t kStatusWidth = 64;

// The loop's bookkeeping.
struct LoopFields {
    int32_t tickPhase = 0;         // toggles 0/1 on every one-second tick
    int64_t lastTick = 0;          // DriverClock time of the last tick
    int32_t framesThisPeriod = 0;  // frames since the last two-second task
    int32_t framesLastPeriod = 0;  // frames in the previous period
    int32_t statusWidth = kStatusWidth;
    int64_t lastAbsentBeat = 0;        // DriverClock time of the last beat without the board
    int64_t lastFrame = 0;             // DriverClock time of the last frame that arrived
    bool liftedSilent = false;         // the touches were lifted in this silence
    int64_t longestGapThisPeriod = 0;  // between two frames
    int64_t longestGapLastPeriod = 0;
};

class CHid {
public:
    CHid(Registry& registry, SensorLink& link, FrameProcessor& processor, SettingsStore& settings,
         const Clock& clock, const VerboseLog& log);
    virtual ~CHid();
    CHid(const CHid&) = delete;
    CHid& operator=(const CHid&) = delete;

    // Start-up, engine build: the settings defaults and file, the calibration transform, the
    // loop fields. The transport's ready mark follows it.
    void BuildEngine(CalibrationHook& calibration);
    // Start-up, connect: announces the run state, takes the mux size, tries to open the
    // board. A missing board is not fatal. Always true.
    bool Connect();
    // Sets running and iterates until a stop request clears it.
    void Run();
    // Acquires and processes at most one frame and does the periodic checks.
    void LoopIteration();

    bool Running() const { return running_; }
    void SetRunning(bool running) { running_ = running; }
    int32_t MuxSize() const { return muxSize_; }
    const LoopFields& Loop() const { return loop_; }
    const std::array<uint8_t, kReportBufferBytes>& Buffer() const { return buffer_; }
    std::array<uint8_t, kReportBufferBytes>& Buffer() { return buffer_; }

private:
    // Silent: the read timed out with the board still attached, and nothing came.
    enum class Acquired { Frame, Nothing, Silent, LinkLost };

    Acquired Acquire();
    Acquired AcquirePair();
    Acquired AcquireOne();
    void WaitAsARead();
    void Silence();
    // Opens the board, up to kOpenAttempts times with a pause after each failure; with
    // honourCommands, save and stop requests are served in the pauses.
    bool OpenWithRetries(bool honourCommands);
    void Reconnect();
    void Tick();
    void TwoSecondTask();
    void PublishHeartbeat();
    void BeatWhileAbsent();
    void ServeSave();
    bool ServeStop();

    Registry& registry_;
    SensorLink& link_;
    FrameProcessor& processor_;
    SettingsStore& settings_;
    const Clock& clock_;
    const VerboseLog& log_;
    CalibrationHook* calibration_ = nullptr;  // BuildEngine's, for reloads

    LoopFields loop_;
    bool running_ = false;
    bool stopRequested_ = false;
    bool linkUp_ = false;  // for --verbose: say "lost" and "opened" once each
    int32_t muxSize_ = 0;
    std::array<uint8_t, kReportBufferBytes> buffer_{};
};

}  // namespace kv
