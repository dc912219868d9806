// The three-point calibration's capture: the reference corners from steady touches, and the
// collector that keeps the last frames' peaks for it.
#include "driver/calibration/calibration_model.h"

#include <algorithm>

namespace kv {

namespace {

// The collector trusts a frame's peaks only above this amplitude.
constexpr float kSampleAmplitude = 10.0f;
constexpr int32_t kMaxSlotCount = 127;

}  // namespace

void CaptureWindow::Add(float x, float y) {
    if (done || count >= kMaxCount) {
        return;
    }
    ++count;
    sumX += x;
    sumY += y;
}

// --- Capture ---

void CalibrationModel::CaptureStep(const CalibrationSample& sample) {
    bool changed = false;
    if (!Capturing() && startRequest_) {
        StartCapture();
        changed = true;
    } else if (Capturing() && stopRequest_) {
        StopCapture();
        changed = true;
    } else if (Capturing() && sample.quality > 1) {
        Accumulate(sample);
    }
    switch (phase_) {
        case Phase::CaptureTopLeft:
        case Phase::CaptureTopRight:
        case Phase::CaptureBottomLeft:
            changed = StepCorner(phase_) || changed;
            break;
        case Phase::Uncalibrated:
        case Phase::Calibrated:
            break;
    }
    if (changed) {
        PublishAll();
    }
}

void CalibrationModel::StartCapture() {
    startRequest_ = false;
    backup_ = active_;
    const CalibrationData* refs[3] = {&registry_.calibRefTL, &registry_.calibRefTR,
                                      &registry_.calibRefBL};
    for (size_t k = 0; k < 3; ++k) {
        referenceBackup_[k] = {refs[k]->SA, refs[k]->SB};
    }
    ResetWindows();
    SetStatus(true, 0);
    MakeActiveCorner(registry_.calibRefTL);
    phase_ = Phase::CaptureTopLeft;
}

void CalibrationModel::StopCapture() {
    stopRequest_ = false;
    active_ = backup_;
    // The corners taken in this attempt would otherwise reach the settings file with the next
    // save and disagree with the calibration in force at the next start.
    CalibrationData* refs[3] = {&registry_.calibRefTL, &registry_.calibRefTR,
                                &registry_.calibRefBL};
    for (size_t k = 0; k < 3; ++k) {
        refs[k]->SA = referenceBackup_[k].sa;
        refs[k]->SB = referenceBackup_[k].sb;
    }
    RefreshInverse();
    ResetWindows();
    SetStatus(false, 0);
    SettlePhase();
}

void CalibrationModel::Accumulate(const CalibrationSample& sample) {
    if (centre_.Contains(sample.x, sample.y)) {
        centre_.Add(sample.x, sample.y);
        SetStatus(true, centre_.count);
        if (centre_.count > kCornerSamples) {
            stopRequest_ = true;
        }
        return;
    }
    for (CaptureWindow& w : windows_) {
        if (w.Contains(sample.x, sample.y)) {
            w.Add(sample.x, sample.y);
        }
    }
}

bool CalibrationModel::StepCorner(Phase phase) {
    size_t best = 0;
    int32_t bestCount = -1;
    for (size_t k = 0; k < windows_.size(); ++k) {
        const int32_t count = windows_[k].done ? 0 : windows_[k].count;
        if (count > bestCount) {
            best = k;
            bestCount = count;
        }
    }
    CalibrationData& ref = Corner(phase);
    if (ref.RefValue != bestCount) {
        ref.RefValue = bestCount;
        ref.Publish();
    }
    if (bestCount <= kCornerSamples) {
        return false;
    }

    CaptureWindow& taken = windows_[best];
    taken.done = true;
    ref.SA = taken.sumX / static_cast<float>(taken.count);
    ref.SB = taken.sumY / static_cast<float>(taken.count);
    ref.RefFlag0 = true;
    ref.RefFlag1 = true;
    ref.RefFlag2 = false;
    if (phase == Phase::CaptureTopLeft) {
        // The opposite corner of the screen lies in the diagonal quadrant whichever way the
        // foil is mounted, so the other two corners must come from the remaining quadrants.
        windows_[best ^ 3].done = true;
    }
    for (CaptureWindow& w : windows_) {
        if (!w.done) {
            w.ClearSums();
        }
    }
    centre_.ClearSums();

    switch (phase) {
        case Phase::CaptureTopLeft:
            MakeActiveCorner(registry_.calibRefTR);
            phase_ = Phase::CaptureTopRight;
            break;
        case Phase::CaptureTopRight:
            MakeActiveCorner(registry_.calibRefBL);
            phase_ = Phase::CaptureBottomLeft;
            break;
        case Phase::CaptureBottomLeft:
            CompleteCapture();
            break;
        case Phase::Uncalibrated:
        case Phase::Calibrated:
            break;
    }
    return true;
}

void CalibrationModel::CompleteCapture() {
    // Refused references leave the earlier calibration in force, and with it its angle.
    const bool accepted = Recompute();
    ResetWindows();
    stopRequest_ = false;
    registry_.calibDoComplete.RaiseAcknowledged();
    if (accepted) {
        registry_.calibState.Angle = FoilOrientation(display_, registry_.calibState);
    }
    registry_.storeDoSave.RaiseCounted();
}

CalibrationData& CalibrationModel::Corner(Phase phase) {
    switch (phase) {
        case Phase::CaptureTopRight:
            return registry_.calibRefTR;
        case Phase::CaptureBottomLeft:
            return registry_.calibRefBL;
        case Phase::Uncalibrated:
        case Phase::Calibrated:
        case Phase::CaptureTopLeft:
            break;
    }
    return registry_.calibRefTL;
}

// One corner at a time is active, so the controller sees the previous one finish.
void CalibrationModel::MakeActiveCorner(CalibrationData& ref) {
    for (CalibrationData* other :
         {&registry_.calibRefTL, &registry_.calibRefTR, &registry_.calibRefBL}) {
        other->RefFlag0 = false;
    }
    ref.RefFlag0 = true;
    ref.RefValue = 0;
}

void CalibrationModel::ResetWindows() {
    for (CaptureWindow& w : windows_) {
        w.Reset();
    }
    centre_.Reset();
}

void CalibrationModel::SetStatus(bool capturingNow, int32_t progress) {
    CalibrationState& status = registry_.calibState;
    status.Active = capturingNow;
    status.Progress = progress;
    status.Stage = orientationCode_;
}

void CalibrationModel::PublishAll() {
    registry_.calibState.Publish();
    registry_.calibRefTL.Publish();
    registry_.calibRefTR.Publish();
    registry_.calibRefBL.Publish();
}

// --- Collector ---

void CalibrationModel::Collect(int32_t axis, int32_t count, bool frameComplete,
                               const PeakCandidate& first) {
    if (count <= 0) {
        historyFill_ = 0;
        return;
    }
    if (axis >= 0 && axis < static_cast<int32_t>(slots_.size())) {
        AxisSlot& slot = slots_[static_cast<size_t>(axis)];
        slot.count = std::min(count, kMaxSlotCount);
        slot.peak = first;
    }
    if (!frameComplete) {
        return;
    }
    history_[static_cast<size_t>(historyWrite_)] = {slots_[0].peak, slots_[1].peak};
    historyWrite_ = (historyWrite_ + 1) % kHistoryFrames;
    historyFill_ = std::min(historyFill_ + 1, kHistoryFrames);
    lastSample_ = TakeSample();
    CaptureStep(lastSample_);
}

CalibrationSample CalibrationModel::TakeSample() const {
    CalibrationSample sample;
    // The fourth most recent frame: three frames before the newest.
    const size_t older =
        static_cast<size_t>((historyWrite_ - 4 + 2 * kHistoryFrames) % kHistoryFrames);
    sample.x = history_[older].x.position;
    sample.y = history_[older].y.position;
    if (historyFill_ < kHistoryFrames) {
        return sample;
    }
    int32_t minX = history_[0].x.index, maxX = minX;
    int32_t minY = history_[0].y.index, maxY = minY;
    for (const CollectorFrame& f : history_) {
        if (f.x.index < 0 || f.y.index < 0 || !(f.x.amplitude > kSampleAmplitude) ||
            !(f.y.amplitude > kSampleAmplitude)) {
            return sample;
        }
        minX = std::min(minX, f.x.index);
        maxX = std::max(maxX, f.x.index);
        minY = std::min(minY, f.y.index);
        maxY = std::max(maxY, f.y.index);
    }
    if (maxX - minX <= 1 && maxY - minY <= 1) {
        sample.quality = 2;
    }
    return sample;
}

}  // namespace kv
