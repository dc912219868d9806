// The touch detector: signal level, X/Y balance, thresholds and dispatch to the engines.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "driver/core/peak_candidate.h"
#include "driver/core/touch_engine.h"
#include "driver/core/touch_path.h"
#include "protocol/registry.h"

namespace kv {

// Learns how much weaker (or stronger) a touch reads on Y than on X, from the first 50
// strong touches per axis after start and after every change of the press threshold.
class AxisRatioTracker {
public:
    static constexpr int32_t kHitsNeeded = 50;
    static constexpr float kRatioMin = 0.7f;
    static constexpr float kRatioMax = 1.3f;

    void Update(float threshold, const PeakCandidate& first, bool lastAxis);

    bool Active() const { return active; }
    float Ratio() const { return ratio; }
    int32_t XHits() const { return xHits; }
    int32_t YHits() const { return yHits; }

private:
    bool active = true;
    int32_t thresholdSnapshot = 0;
    int32_t xHits = 0;
    int32_t yHits = 0;
    float xSum = 0.0f;
    float ySum = 0.0f;
    float ratio = 1.0f;
};

class TouchDetector {
public:
    static constexpr int32_t kAxes = 4;
    static constexpr float kReleaseFactor = 0.9f;

    // Sets the Sense status level to 0 and publishes it.
    explicit TouchDetector(Registry& registry);
    TouchDetector(const TouchDetector&) = delete;
    TouchDetector& operator=(const TouchDetector&) = delete;

    // Where peaks go on: the engine of each touch mode (a null entry is fed nothing), and the
    // calibration collector (may be null).
    void SetTouchEngines(const TouchEngineSet& engines) { theEngines = engines; }
    void SetCalibrationCollector(CalibrationCollector* collector) { theCollector = collector; }

    // Per axis and frame, from the axis's peak finder.
    void Intake(int32_t count, int32_t axis, bool frameComplete, const PeakCandidate& first,
                const PeakCandidate& second);
    // Called by both axes' housekeeping; acts on every other call.
    void PeriodicRefresh();
    // The board has gone: the engine in force is fed frames without a peak until every touch
    // it holds has ended as a lifted finger's does, so that none outlives the frames that
    // carried it (a desktop would keep a contact pressed until the board came back).
    void LiftAll();
    // The precise path's palm rule. Per axis and frame, before its peaks: how many electrodes
    // around the strongest signal hold more than half of it. A finger spreads over one to
    // three, a palm or a forearm over many; where both axes spread over kPalmSpread or more the
    // frame is no touch, so a palm neither lands a touch nor clicks, and a touch it falls on
    // ends as if lifted.
    static constexpr int32_t kPalmSpread = 5;
    // An object that lands spread over one electrode fewer on both axes is held back for up
    // to this many frames, until it has shown whether it is a palm (a palm's outer
    // electrodes read near half its peak on some boards). A finger spreads over fewer.
    static constexpr int32_t kPalmWait = 3;
    // An object landing faintly (under kSureLanding times the threshold on either axis) is
    // passed on only where the frame before showed its peaks too, within kLandingReach
    // electrodes on both axes: a finger coming near rises in place, while the idle foil's
    // noise peaks, which on a noisy board now and then cross the threshold on both axes at
    // once, fall anywhere. A finger pressing at once lands at once.
    static constexpr float kSureLanding = 1.5f;
    static constexpr float kLandingReach = 1.5f;
    // A palm's signal on an axis also adds up to far more than a finger's: where both axes'
    // sums around the strongest electrode exceed kPalmSize times a finger's, the frame is a
    // palm's too (under glass a palm spreads over no more electrodes than a finger does). Once
    // seen it stays one while both exceed one time less. A finger's sums are the median of the
    // last kSizeTouches touches of one finger that stayed firm for kSizeFrames frames or more
    // (so a palm now and then teaches nothing); before the first, nothing is a palm by size.
    static constexpr float kPalmSize = 3.0f;
    static constexpr int32_t kSizeFrames = 50;
    static constexpr int32_t kSizeTouches = 15;
    // Per axis and frame, before its peaks: how many electrodes around the strongest signal
    // hold more than half of it, and the sum of the signal around it (0: not known).
    void NoteSpread(int32_t axis, int32_t electrodes, int32_t size = 0);
    void SetPath(TouchPath path) { itsPath = path; }
    TouchPath Path() const { return itsPath; }

    float Level(int32_t axis) const { return itsLevel[static_cast<size_t>(axis)]; }
    // The touch mode in force; none when the selection names no mode.
    std::optional<TouchMode> Mode() const { return itsMode; }
    float PressThreshold() const { return itsPressThreshold; }
    float EffectiveThreshold() const { return itsEffectiveThreshold; }
    const AxisRatioTracker& RatioTracker() const { return itsRatio; }

private:
    TouchEngine* EngineInForce() const;
    bool Palm() const;
    // Whether both axes' sums exceed times a finger's (false until a finger's is learnt).
    bool Large(float times) const;
    // Learns a finger's sums from the frame just completed.
    void LearnSize();
    // Whether the frame just completed is an object landing and so held back: wide (see
    // kPalmWait) or faint where the frame before had no peaks (see kSureLanding).
    bool HoldLanding();
    void Dispatch(int32_t axis, int32_t count, bool frameComplete, const PeakCandidate& first,
                  const PeakCandidate& second, bool palm = false);

    Registry& theRegistry;
    TouchEngineSet theEngines{};
    CalibrationCollector* theCollector = nullptr;

    std::array<float, kAxes> itsLevel{};
    std::array<int32_t, kAxes> itsCount{};  // electrodes of each axis in the latest frame
    std::array<int32_t, kAxes> itsSpread{};
    std::array<int32_t, 2> itsSize{};
    std::array<float, 2> itsFingerSize{};
    std::array<std::array<float, kSizeTouches>, 2> itsTouchSizes{};  // a ring, per axis
    int32_t itsSizeTouches = 0;                                      // touches learnt from
    std::array<double, 2> itsSizeSum{};  // of the touch on the foil, over its firm frames
    int32_t itsSizeFrames = 0;
    std::array<PeakCandidate, 2> itsStrongest{};      // each axis's stronger peak
    std::array<float, 2> itsLastPeaks{-1.0f, -1.0f};  // where the frame before had them
    bool itsPalm = false;                             // the last complete frame was a palm's
    int32_t itsLanding = 0;  // frames the object on the foil was held back; -1: passed on
    TouchPath itsPath = TouchPath::Classic;
    std::optional<TouchMode> itsMode = TouchMode::SingleTouch;
    float itsPressThreshold = 9.1f;
    float itsEffectiveThreshold = 9.0f;
    int32_t itsRefreshToggle = 0;
    AxisRatioTracker itsRatio;
};

}  // namespace kv
