// CalibrateDlg: the full-screen calibration dialog. It shows the driver's corner targets one
// after another with the capture progress, and the touch region editor; the step machine in
// calibration_steps.h decides what to show, this class draws it and passes the clicks on.
#pragma once

#include <QDialog>
#include <QPointF>
#include <array>

#include "controller/models/calibration_steps.h"
#include "protocol/registry.h"

class QFrame;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace kv::controller {

struct DialogContext;

class CalibrateDlg final : public QDialog {
    Q_OBJECT
public:
    // Covers the primary screen, taken as the whole of what the driver maps touches onto.
    explicit CalibrateDlg(Registry& registry, QWidget* parent = nullptr);
    // desktop: what the driver maps touches onto, in desktop pixels (the region's fractions
    // are of it); area: the part the dialog covers, the chosen monitor or the whole desktop.
    CalibrateDlg(Registry& registry, const QRect& desktop, const QRect& area,
                 QWidget* parent = nullptr);
    ~CalibrateDlg() override;

    // One 50 ms tick: the step machine moves on, the window follows it. Closes the dialog
    // (Accepted after the driver's completion, Rejected otherwise) when the machine ends.
    void Tick();

    const CalibrationSteps& Steps() const { return steps_; }
    // The target's centre in this window's coordinates (meaningful while a target is shown).
    QPointF TargetInWindow() const;

    // Cancel from the keyboard or the window's close button: the capture stops as with
    // "Cancel".
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void AdvancedClicked();
    void CancelClicked();
    void SliderMoved();
    void SyncControls();
    void LayOut();
    void Finish();

    CalibrationSteps steps_;
    QRect screen_;  // what the driver maps onto, in desktop coordinates
    QTimer* timer_ = nullptr;
    QPushButton* advancedButton_ = nullptr;  // 1029
    QPushButton* cancelButton_ = nullptr;    // 1028
    QLabel* hint_ = nullptr;                 // 1065
    QLabel* caption_ = nullptr;              // 1066
    QFrame* panel_ = nullptr;                // 1030
    // left (1006), bottom (1026), right (1027), top (1010)
    std::array<QSlider*, 4> sliders_{};
};

// Runs the calibration dialog modally over parent, on the monitor chosen on the Advanced page
// (MONITOR in CONTROLLER.INI) or the whole desktop; returns QDialog::Accepted when the driver
// completed the calibration, QDialog::Rejected when the user cancelled.
int RunCalibration(DialogContext& context, QWidget* parent);

}  // namespace kv::controller
