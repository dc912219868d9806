// The three-point calibration from sensor to screen coordinates, its capture procedure, and
// the mapping chain every pointer output runs: calibrate, stretch edges, rotate, exclude.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "driver/core/display_info.h"
#include "driver/core/touch_engine.h"
#include "protocol/registry.h"

namespace kv {

// A position in normalised coordinates (0..1 on each axis).
struct NormalPoint {
    float x = 0.0f;
    float y = 0.0f;
};

// Row-major 3x3 matrix whose last row is (0, 0, 1); maps (x, y, 1) column vectors.
using Matrix3 = std::array<float, 9>;

// Edge stretch derived from the Edge State record.
struct EdgeStretch {
    float leftEdge = 0.05f, rightEdge = 0.95f, topEdge = 0.05f, bottomEdge = 0.95f;
    float gainLeft = 1.0f, gainRight = 1.0f, gainTop = 1.0f, gainBottom = 1.0f;

    static EdgeStretch FromSettings(const EdgeState& edge);
};

// Exclusion rectangle or regional mapping, from the Calib State record.
struct ExclusionSettings {
    int32_t flag = 1;  // 0 exclusion rectangle, 1 none, 2 regional mapping
    float left = 0.0f, top = 0.0f, right = 1.0f, bottom = 1.0f;

    static ExclusionSettings FromSettings(const CalibrationState& state);
};

// One calibration sample per completed frame.
struct CalibrationSample {
    int32_t quality = 0;  // 2: steady, strong single touch
    float x = 0.0f;
    float y = 0.0f;
};

// A rectangle of sensor space that gathers the samples falling strictly inside it.
struct CaptureWindow {
    float xMin = 0.0f, yMin = 0.0f, xMax = 0.0f, yMax = 0.0f;  // exclusive bounds
    bool done = false;
    int32_t count = 0;  // at most kMaxCount
    float sumX = 0.0f;
    float sumY = 0.0f;

    static constexpr int32_t kMaxCount = 400;

    bool Contains(float x, float y) const { return x > xMin && x < xMax && y > yMin && y < yMax; }
    // Adds a sample unless the window is done or full.
    void Add(float x, float y);
    void ClearSums() { count = 0, sumX = 0.0f, sumY = 0.0f; }
    void Reset() { ClearSums(), done = false; }
};

class CalibrationModel final : public CalibrationCollector {
public:
    enum class Phase : int32_t {
        Uncalibrated = 0,
        Calibrated = 1,
        CaptureTopLeft = 2,
        CaptureTopRight = 3,
        CaptureBottomLeft = 4,
    };

    // A corner is taken once its best window holds more than this many samples; holding the
    // centre for more than this many abandons the capture.
    static constexpr int32_t kCornerSamples = 100;
    static constexpr int32_t kHistoryFrames = 8;

    // Receives one line when the model refuses its inputs (for the driver's --verbose).
    using Notice = std::function<void(std::string_view)>;

    CalibrationModel(Registry& registry, const DisplayInfo& display);

    // Optional; without it refusals go unreported.
    void SetNotice(Notice notice) { notice_ = std::move(notice); }

    // Builds the calibration from the three reference records. References that are not all
    // finite (or give a matrix that is not) are refused: the records get back the last
    // accepted references (the defaults until one was) and that calibration stays in force.
    // False when refused.
    bool Recompute();
    // Consumes the Calib DoStart and DoStop events (from the two-second task).
    void PollEvents();
    // One calibration sample per completed frame.
    void CaptureStep(const CalibrationSample& sample);

    // Sensor to screen through the calibration in force.
    NormalPoint MapPoint(NormalPoint sensor) const;
    static NormalPoint StretchEdges(NormalPoint p, const EdgeStretch& edge);
    // turns = (current orientation - calibration orientation + 4) mod 4.
    static NormalPoint Rotate(NormalPoint p, int32_t turns);
    // The quarter turns between the display now and the display at calibration time.
    static int32_t RotationTurns(int32_t currentOrientation, int32_t calibrationOrientation);
    // The rotation of the picture the foil lies on: with a monitor chosen (regional mapping),
    // that of the monitor under the region's centre; otherwise the primary display's.
    static int32_t FoilOrientation(const DisplayInfo& display, const CalibrationState& state);
    // Applies exclusion or regional mapping in place; true when the touch is excluded.
    static bool Exclude(NormalPoint& p, const ExclusionSettings& settings);

    // CalibrationCollector: fed by the touch detector.
    void Collect(int32_t axis, int32_t count, bool frameComplete,
                 const PeakCandidate& first) override;
    void PeriodicStep() override { PollEvents(); }

    Phase CurrentPhase() const { return phase_; }
    int32_t OrientationCode() const { return orientationCode_; }
    const Matrix3& Active() const { return active_; }
    const Matrix3& ActiveInverse() const { return activeInverse_; }
    // The sample the collector took on the last completed frame.
    const CalibrationSample& LastSample() const { return lastSample_; }
    const CaptureWindow& Window(int index) const { return windows_[static_cast<size_t>(index)]; }
    const CaptureWindow& Centre() const { return centre_; }

private:
    // One frame of the collector's history: the first peak of each axis.
    struct CollectorFrame {
        PeakCandidate x;
        PeakCandidate y;
    };
    struct AxisSlot {
        int32_t count = 0;
        PeakCandidate peak;
    };
    // Saved reference values of one corner, restored when a capture is abandoned.
    struct ReferenceBackup {
        float sa = 0.0f;
        float sb = 0.0f;
    };
    // All four reference values of one corner, as last accepted by recompute.
    struct ReferenceValues {
        float sa, sb, sx, sy;
    };

    bool Capturing() const { return phase_ >= Phase::CaptureTopLeft; }
    CalibrationData& Corner(Phase phase);
    void MakeActiveCorner(CalibrationData& ref);
    void ResetWindows();
    void SetStatus(bool capturingNow, int32_t progress);
    void PublishAll();
    // screenFrame, sensorFrame, its inverse and the active matrix from the reference records.
    void BuildFrames();
    // Steps 5 and 6 of recompute: inverse, reference flags, orientation code.
    void RefreshInverse();
    void SettlePhase();

    void StartCapture();
    void StopCapture();
    void Accumulate(const CalibrationSample& sample);
    // Per capture phase: progress, and taking the corner when its window is full. True when
    // the corner was taken.
    bool StepCorner(Phase phase);
    void CompleteCapture();

    CalibrationSample TakeSample() const;
    // The records' references, TL, TR, BL.
    std::array<CalibrationData*, 3> References();

    Registry& registry_;
    const DisplayInfo& display_;
    Phase phase_ = Phase::Uncalibrated;
    int32_t orientationCode_ = 0;
    Matrix3 active_{1, 0, 0, 0, 1, 0, 0, 0, 1};

    std::array<CaptureWindow, 4> windows_{};
    CaptureWindow centre_{};
    bool startRequest_ = false;
    bool stopRequest_ = false;
    Matrix3 screenFrame_{1, 0, 0, 0, 1, 0, 0, 0, 1};
    Matrix3 sensorFrame_{1, 0, 0, 0, 1, 0, 0, 0, 1};
    Matrix3 sensorFrameInverse_{1, 0, 0, 0, 1, 0, 0, 0, 1};
    Matrix3 activeInverse_{1, 0, 0, 0, 1, 0, 0, 0, 1};
    Matrix3 backup_{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<ReferenceBackup, 3> referenceBackup_{};
    // The defaults the settings holder installs, which give the identity.
    std::array<ReferenceValues, 3> accepted_{
        {{0.1f, 0.1f, 0.1f, 0.1f}, {0.9f, 0.1f, 0.9f, 0.1f}, {0.1f, 0.9f, 0.1f, 0.9f}}};
    Notice notice_;

    std::array<AxisSlot, 4> slots_{};
    std::array<CollectorFrame, kHistoryFrames> history_{};
    int32_t historyWrite_ = 0;
    int32_t historyFill_ = 0;
    CalibrationSample lastSample_{};
};

}  // namespace kv
