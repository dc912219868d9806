// The calibration dialog's step machine: which corner target to show, when to ask the driver
// for a capture, and the touch region editor's state. Qt-free; the dialog calls Tick() from
// its 50 ms timer and tests call it directly. It raises Calib events and reads and writes the
// Calib records only: the driver does every calculation.
#pragma once

#include <cstdint>

#include "protocol/registry.h"

namespace kv::controller {

inline constexpr int kCalibrationTickMs = 50;

// Target rings: outer and middle diameters with their ring widths, the inner ring's starting
// diameter and growth per captured sample, and the half-length of the cross.
inline constexpr int kTargetOuterDiameter = 100;
inline constexpr int kTargetOuterWidth = 20;
inline constexpr int kTargetMiddleDiameter = 60;
inline constexpr int kTargetMiddleWidth = 10;
inline constexpr double kTargetInnerDiameter = 20.0;
inline constexpr double kTargetInnerGrowth = 0.4;
inline constexpr int kTargetCrossHalf = 60;

// The region sliders keep at least this many percent between left and right, top and bottom.
inline constexpr int kRegionMinimumGap = 5;

// A region in percent of the screen, as the four sliders show it.
struct RegionPercent {
    int left = 0;
    int top = 0;
    int right = 100;
    int bottom = 100;
    bool operator==(const RegionPercent&) const = default;
};

// A rectangle in screen pixels.
struct PixelRect {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;
};

enum class Corner { None, TopLeft, TopRight, BottomLeft };

// What to draw this tick: the target's corner, its centre in screen pixels and the driver's
// progress count for that corner.
struct TargetView {
    Corner corner = Corner::None;
    double x = 0.0;
    double y = 0.0;
    int32_t progress = 0;
};

class CalibrationSteps {
public:
    // The dialog's steps: 0 ask for a capture, 1 wait for the driver to capture, 2 pick the
    // active corner, 10/20/30 show that corner, 40 the driver reported completion, 3 close.
    enum Step : int32_t {
        kRequest = 0,
        kAwaitCapture = 1,
        kPickCorner = 2,
        kFinished = 3,
        kTopLeft = 10,
        kTopRight = 20,
        kBottomLeft = 30,
        kCompleted = 40,
    };

    // screenWidth/screenHeight: the pixels of the screen the driver maps onto.
    CalibrationSteps(Registry& registry, int screenWidth, int screenHeight);

    void SetScreenSize(int width, int height);

    // One 50 ms tick. Returns false when the dialog should close now.
    bool Tick();

    // Button 1029: "Advanced..." opens the region panel, then "Mode Switch" cycles the mode.
    void PressAdvanced();
    // Button 1028: "Save" closes the region panel, "Cancel" stops the capture and closes.
    void PressCancel();

    // A slider moved; the values are kept consistent on the next tick.
    void SetRegion(const RegionPercent& region) { region_ = region; }
    const RegionPercent& Region() const { return region_; }

    int32_t StepNow() const { return step_; }
    bool Running() const { return running_; }
    bool PanelOpen() const { return advanced_; }
    bool AdvancedEnabled() const { return advancedEnabled_; }
    // The driver reported a finished calibration before the dialog closed.
    bool Completed() const { return completed_; }
    int32_t RegionMode() const { return regionMode_; }
    // The hint "Press and Hold here" is shown beside the target.
    bool HintShown() const { return hintShown_; }
    const TargetView& Target() const { return target_; }
    // Where targets sit: the whole screen in mode 0, the slider rectangle otherwise.
    PixelRect TargetArea() const;
    // The slider rectangle in pixels, outlined while the panel is open.
    PixelRect RegionPixels() const;

private:
    void KeepRegionConsistent();
    void PublishRegionIfChanged();
    void Advance();
    void ShowCorner(Corner corner, const CalibrationData& ref);

    Registry& registry_;
    int width_;
    int height_;
    int32_t step_ = kRequest;
    bool running_ = true;
    bool advanced_ = false;
    bool advancedEnabled_ = true;
    bool completed_ = false;
    bool hintShown_ = false;
    int32_t regionMode_ = 0;
    RegionPercent region_;
    RegionPercent published_;
    // The region as the record held it at start, exactly: a monitor's share of the desktop
    // is rarely whole percent, and the targets must sit where the driver maps them.
    RegionPercent initial_;
    PixelRect initialExact_;
    TargetView target_;
};

}  // namespace kv::controller
