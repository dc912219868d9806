// The three-point calibration: building the sensor-to-screen matrix and the per-sample mapping
// chain (capturing the reference corners is in calibration_capture.cpp).
#include "driver/calibration/calibration_model.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "protocol/record_ranges.h"

namespace kv {

namespace {

constexpr Matrix3 kIdentity{1, 0, 0, 0, 1, 0, 0, 0, 1};
// A determinant closer to zero than this is replaced by it, keeping its sign.
constexpr float kDeterminantFloor = 0.0001f;
constexpr float kIdentityTolerance = 0.0001f;

// Columns: u along the top edge (TL to TR), v down the left edge (TL to BL), origin TL.
Matrix3 FrameOf(float tlX, float tlY, float trX, float trY, float blX, float blY) {
    return {trX - tlX, blX - tlX, tlX, trY - tlY, blY - tlY, tlY, 0.0f, 0.0f, 1.0f};
}

Matrix3 Multiply(const Matrix3& a, const Matrix3& b) {
    Matrix3 r{};
    for (size_t row = 0; row < 3; ++row) {
        for (size_t col = 0; col < 3; ++col) {
            float sum = 0.0f;
            for (size_t k = 0; k < 3; ++k) {
                sum += a[row * 3 + k] * b[k * 3 + col];
            }
            r[row * 3 + col] = sum;
        }
    }
    return r;
}

// Adjugate over determinant; a degenerate matrix gets the floored determinant so that a
// collinear capture never divides by zero.
Matrix3 Inverse(const Matrix3& m) {
    const float a = m[0], b = m[1], c = m[2];
    const float d = m[3], e = m[4], f = m[5];
    const float g = m[6], h = m[7], i = m[8];
    const float c00 = e * i - f * h;
    const float c01 = -(d * i - f * g);
    const float c02 = d * h - e * g;
    float det = a * c00 + b * c01 + c * c02;
    if (std::fabs(det) < kDeterminantFloor) {
        det = det >= 0.0f ? kDeterminantFloor : -kDeterminantFloor;
    }
    const Matrix3 adjugate{c00, -(b * i - c * h), b * f - c * e,
                           c01, a * i - c * g,    -(a * f - c * d),
                           c02, -(a * h - b * g), a * e - b * d};
    Matrix3 r{};
    for (size_t k = 0; k < 9; ++k) {
        r[k] = adjugate[k] / det;
    }
    return r;
}

NormalPoint Apply(const Matrix3& m, float x, float y) {
    return {m[0] * x + m[1] * y + m[2], m[3] * x + m[4] * y + m[5]};
}

bool AllFinite(const Matrix3& m) {
    return std::all_of(m.begin(), m.end(), [](float v) { return std::isfinite(v); });
}

constexpr const char* kCornerNames[3] = {"Ref_TL", "Ref_TR", "Ref_BL"};

bool IsIdentity(const Matrix3& m) {
    for (size_t k = 0; k < 9; ++k) {
        if (std::fabs(m[k] - kIdentity[k]) >= kIdentityTolerance) {
            return false;
        }
    }
    return true;
}

float StretchAxis(float v, float lowEdge, float lowGain, float highEdge, float highGain) {
    if (v < lowEdge) {
        v = lowEdge - (lowEdge - v) * lowGain;
    } else if (v > highEdge) {
        v = highEdge + (v - highEdge) * highGain;
    }
    return std::clamp(v, 0.0f, 1.0f);
}

float EdgeGain(int32_t value) {
    // In float, so that no stored value can overflow the sum.
    return std::clamp((static_cast<float>(value) + 100.0f) / 100.0f, 1.0f, 2.0f);
}

float EdgeInset(int32_t value) {
    return static_cast<float>(value) / 4000.0f;
}

}  // namespace

EdgeStretch EdgeStretch::FromSettings(const EdgeState& edge) {
    EdgeStretch s;
    s.gainLeft = EdgeGain(edge.Left);
    s.gainRight = EdgeGain(edge.Right);
    s.gainTop = EdgeGain(edge.Top);
    s.gainBottom = EdgeGain(edge.Bottom);
    s.leftEdge = 0.05f + EdgeInset(edge.Left);
    s.rightEdge = 0.95f - EdgeInset(edge.Right);
    s.topEdge = 0.05f + EdgeInset(edge.Top);
    s.bottomEdge = 0.95f - EdgeInset(edge.Bottom);
    return s;
}

ExclusionSettings ExclusionSettings::FromSettings(const CalibrationState& state) {
    return {.flag = state.exclude_edge_flag,
            .left = state.exclude_edge_left,
            .top = state.exclude_edge_top,
            .right = state.exclude_edge_right,
            .bottom = state.exclude_edge_bottom};
}

CalibrationModel::CalibrationModel(Registry& registry, const DisplayInfo& display)
    : registry_(registry), display_(display) {
    // Quadrants in sensor space: 0 top-left, 1 bottom-left, 2 top-right, 3 bottom-right.
    windows_[0] = {0.0f, 0.0f, 0.5f, 0.5f};
    windows_[1] = {0.0f, 0.5f, 0.5f, 1.0f};
    windows_[2] = {0.5f, 0.0f, 1.0f, 0.5f};
    windows_[3] = {0.5f, 0.5f, 1.0f, 1.0f};
    centre_ = {0.4f, 0.4f, 0.6f, 0.6f};
}

// --- Building the calibration ---

std::array<CalibrationData*, 3> CalibrationModel::References() {
    return {&registry_.calibRefTL, &registry_.calibRefTR, &registry_.calibRefBL};
}

bool CalibrationModel::Recompute() {
    const std::array<CalibrationData*, 3> refs = References();
    // A settings file or a record from the network can carry nan or inf; such a calibration
    // would send every touch to one corner, so the last accepted references stay instead.
    std::string refused;
    for (size_t k = 0; k < refs.size() && refused.empty(); ++k) {
        const CalibrationData& ref = *refs[k];
        const std::pair<const char*, float> values[] = {
            {"SA", ref.SA}, {"SB", ref.SB}, {"SX", ref.SX}, {"SY", ref.SY}};
        for (const auto& [field, value] : values) {
            if (!std::isfinite(value)) {
                refused = std::string(kCornerNames[k]) + " " + field + " is " +
                          std::to_string(value) + ", not a finite number";
                break;
            }
        }
    }
    if (refused.empty()) {
        // Coinciding or far-off references would send every touch to one point.
        refused = ReferencesProblem(*refs[0], *refs[1], *refs[2]);
    }
    if (refused.empty()) {
        BuildFrames();
        if (!AllFinite(active_) || !AllFinite(Inverse(active_))) {
            refused = "the references give no finite mapping";
        }
    }
    if (!refused.empty()) {
        for (size_t k = 0; k < refs.size(); ++k) {
            refs[k]->SA = accepted_[k].sa;
            refs[k]->SB = accepted_[k].sb;
            refs[k]->SX = accepted_[k].sx;
            refs[k]->SY = accepted_[k].sy;
        }
        BuildFrames();
        if (notice_) {
            notice_("calibration references refused (" + refused +
                    "); the previous calibration stays in force");
        }
    } else {
        for (size_t k = 0; k < refs.size(); ++k) {
            accepted_[k] = {refs[k]->SA, refs[k]->SB, refs[k]->SX, refs[k]->SY};
        }
    }
    backup_ = active_;
    RefreshInverse();
    // A recompute ends any capture: the status says so to the controller.
    SetStatus(false, 0);
    SettlePhase();
    PublishAll();
    return refused.empty();
}

void CalibrationModel::BuildFrames() {
    const CalibrationData& tl = registry_.calibRefTL;
    const CalibrationData& tr = registry_.calibRefTR;
    const CalibrationData& bl = registry_.calibRefBL;
    screenFrame_ = FrameOf(tl.SX, tl.SY, tr.SX, tr.SY, bl.SX, bl.SY);
    sensorFrame_ = FrameOf(tl.SA, tl.SB, tr.SA, tr.SB, bl.SA, bl.SB);
    sensorFrameInverse_ = Inverse(sensorFrame_);
    active_ = Multiply(screenFrame_, sensorFrameInverse_);
}

void CalibrationModel::RefreshInverse() {
    activeInverse_ = Inverse(active_);
    CalibrationData& tl = registry_.calibRefTL;
    tl.RefFlag0 = true;
    tl.RefValue = 0;
    for (CalibrationData* ref : {&registry_.calibRefTR, &registry_.calibRefBL}) {
        ref->RefFlag0 = false;
        ref->RefFlag1 = false;
        ref->RefFlag2 = false;
    }
    // Where the screen's top-left and bottom-left corners lie on the foil tells which way the
    // screen's vertical axis runs across it.
    const NormalPoint p0 = Apply(activeInverse_, 0.0f, 0.0f);
    const NormalPoint p1 = Apply(activeInverse_, 0.0f, 1.0f);
    if (std::fabs(p0.y - p1.y) < std::fabs(p0.x - p1.x)) {
        orientationCode_ = p1.x > p0.x ? 1 : 2;
    } else {
        orientationCode_ = p1.y > p0.y ? 3 : 4;
    }
}

void CalibrationModel::SettlePhase() {
    phase_ = IsIdentity(active_) ? Phase::Uncalibrated : Phase::Calibrated;
}

// --- Events ---

void CalibrationModel::PollEvents() {
    // Both events are acknowledged whatever the phase; out of place they change nothing.
    if (registry_.calibDoStart.ConsumeAcknowledged() && !Capturing()) {
        startRequest_ = true;
    }
    if (registry_.calibDoStop.ConsumeAcknowledged() && Capturing()) {
        stopRequest_ = true;
    }
}

// --- Mapping chain ---

NormalPoint CalibrationModel::MapPoint(NormalPoint sensor) const {
    return Apply(active_, sensor.x, sensor.y);
}

NormalPoint CalibrationModel::StretchEdges(NormalPoint p, const EdgeStretch& edge) {
    p.x = StretchAxis(p.x, edge.leftEdge, edge.gainLeft, edge.rightEdge, edge.gainRight);
    p.y = StretchAxis(p.y, edge.topEdge, edge.gainTop, edge.bottomEdge, edge.gainBottom);
    return p;
}

int32_t CalibrationModel::RotationTurns(int32_t currentOrientation,
                                        int32_t calibrationOrientation) {
    // Widened so that no stored orientation can overflow; the result is always 0..3.
    const int64_t turns = (static_cast<int64_t>(currentOrientation) - calibrationOrientation) % 4;
    return static_cast<int32_t>((turns + 4) % 4);
}

int32_t CalibrationModel::FoilOrientation(const DisplayInfo& display,
                                          const CalibrationState& state) {
    if (state.exclude_edge_flag != 2) {
        return display.Orientation();
    }
    return display.OrientationAt((state.exclude_edge_left + state.exclude_edge_right) / 2.0f,
                                 (state.exclude_edge_top + state.exclude_edge_bottom) / 2.0f);
}

NormalPoint CalibrationModel::Rotate(NormalPoint p, int32_t turns) {
    switch (((turns % 4) + 4) % 4) {
        case 1:
            return {1.0f - p.y, p.x};
        case 2:
            return {1.0f - p.x, 1.0f - p.y};
        case 3:
            return {p.y, 1.0f - p.x};
        default:
            return p;
    }
}

bool CalibrationModel::Exclude(NormalPoint& p, const ExclusionSettings& settings) {
    switch (settings.flag) {
        case 0:
            return p.x < settings.left || p.x > settings.right || p.y < settings.top ||
                   p.y > settings.bottom;
        case 2:
            p.x = settings.left + (settings.right - settings.left) * p.x;
            p.y = settings.top + (settings.bottom - settings.top) * p.y;
            return false;
        default:
            return false;
    }
}

}  // namespace kv
