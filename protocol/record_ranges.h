// The values the driver works with in its settings records, wherever they come from: a record
// a peer sends (Registry::Deliver) or a line of DRIVER.INI. Every range is here and nowhere
// else; protocol/setting_fields.h says which field takes which. A value outside its range is
// refused, never clamped: a touch mode of -5 clamped to 0 would switch touch on.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "protocol/records.h"
#include "protocol/sensor_layout.h"
#include "protocol/touch_modes.h"

namespace kv {

struct IntRange {
    int32_t min;
    int32_t max;
    constexpr bool Holds(int32_t value) const { return value >= min && value <= max; }
};

// NaN and the infinities are in no range.
struct RealRange {
    float min;
    float max;
    constexpr bool Holds(float value) const { return value >= min && value <= max; }
};

namespace ranges {

// Comms ReqState PortIndex, BaudIndex, SampleIndex: indices into the link's short lists of
// choices; nothing reads them, so any index such a list could have is taken.
inline constexpr IntRange kLinkIndex{0, 255};
// Split State Flip0..2: the segment runs forwards (0) or backwards (1).
inline constexpr IntRange kFlip{0, 1};
// Sense State CoarseRange, TouchThreshold and PressThreshold: the Setting page's sliders.
inline constexpr IntRange kSense{0, 50};
// Edge State Top, Left, Right, Bottom: stretch strength in percent, the Advanced page's sliders.
inline constexpr IntRange kEdge{0, 100};
// Output State Mode: the click modes (6 works as 4).
inline constexpr IntRange kClickMode{0, 6};
// Output State Selection: the touch modes.
inline constexpr IntRange kTouchMode{0, kTouchModes - 1};
// Mouse Damp SnapRange, DampRange and RightClickRange: distances in normalised coordinates.
inline constexpr RealRange kDistance{0.0f, 1.0f};
// Mouse Damp DampPeriod, in two-second periods: from 10 on, every one of the 256 history
// samples is damped at any frame rate.
inline constexpr RealRange kDampPeriod{0.0f, 10.0f};
// Mouse Damp RightClickPeriod, in two-second periods: from 0.25 (half a second, below which
// every tap would risk becoming a right click) to 100 (over three minutes, as good as never).
inline constexpr RealRange kHoldPeriod{0.25f, 100.0f};
// Calib State exclude_edge_flag: exclusion rectangle, no region, regional mapping.
inline constexpr IntRange kRegionMode{0, 2};
// Calib State region bounds, fractions of the screen; left < right and top < bottom as well.
inline constexpr RealRange kRegionBound{0.0f, 1.0f};
// Calib State Angle: the display orientation of the last capture, in quarter turns.
inline constexpr IntRange kAngle{0, 3};

}  // namespace ranges

// The split on its own: it fits some frame the board sends (the largest, of 128 channels, takes
// every split a smaller one does). It is not checked against the MuxSize in force, since the
// Controller sends a new model's split before its MuxSize: a model change passes through a
// mixed pair.
inline bool IsReadableSplit(int32_t split0, int32_t split1) {
    constexpr int32_t kLargestFrame = 128;
    static_assert(IsReadableMuxSize(kLargestFrame) && !IsReadableMuxSize(kLargestFrame + 1));
    return SensorLayout{split0, split1, 0, 0, 1, kLargestFrame}.Valid();
}

namespace ranges {
// Calib Ref_TL, Ref_TR and Ref_BL: SA, SB where the touch was on the foil, SX, SY where its
// target was on the screen, both normalised, a little beyond the edges allowed.
inline constexpr RealRange kReference{-1.0f, 2.0f};
// The triangle of the three references spans at least this much, on the foil and on the
// screen (normalised units squared; a calibration over the whole foil spans 0.32): three
// touches at one point or on one line map every touch to one point or one line.
inline constexpr float kMinReferenceArea = 0.001f;
}  // namespace ranges

// Empty when the three references give a usable calibration; else what is wrong with them.
inline std::string ReferencesProblem(const CalibrationData& tl, const CalibrationData& tr,
                                     const CalibrationData& bl) {
    const CalibrationData* refs[] = {&tl, &tr, &bl};
    const char* names[] = {"Ref_TL", "Ref_TR", "Ref_BL"};
    for (size_t k = 0; k < 3; ++k) {
        const float values[] = {refs[k]->SA, refs[k]->SB, refs[k]->SX, refs[k]->SY};
        for (const float value : values) {
            if (!ranges::kReference.Holds(value)) {
                return std::string(names[k]) + " holds " + std::to_string(value) +
                       ", outside -1..2";
            }
        }
    }
    const auto area = [](float ax, float ay, float bx, float by, float cx, float cy) {
        return std::fabs((bx - ax) * (cy - ay) - (cx - ax) * (by - ay)) / 2.0f;
    };
    if (area(tl.SA, tl.SB, tr.SA, tr.SB, bl.SA, bl.SB) < ranges::kMinReferenceArea) {
        return "the three touches (SA, SB) lie at one point or on one line";
    }
    if (area(tl.SX, tl.SY, tr.SX, tr.SY, bl.SX, bl.SY) < ranges::kMinReferenceArea) {
        return "the three targets (SX, SY) lie at one point or on one line";
    }
    return {};
}

}  // namespace kv
