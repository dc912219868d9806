// Kelvarin_Basic, the "Setting" page: touch output on/off, sensitivity and threshold by hand,
// the live signal level, the electrode bars or the touch trace, calibration, and auto
// adaption, which runs step by step on a timer so the window stays responsive.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "messaging/registry.h"

class QCheckBox;
class QDialog;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSlider;
class QTimer;

namespace kv::controller {

class AutoAdaption;
class BasicGraphArea;
class LevelBar;

// Period of the page's refresh.
inline constexpr int kBasicRefreshMs = 30;

class Kelvarin_Basic final : public QWidget {
    Q_OBJECT
public:
    // Works on the Controller's registry: reads what the driver publishes, sends every change.
    explicit Kelvarin_Basic(Registry& registry, QWidget* parent = nullptr);
    // A page on a registry of its own that reaches no driver (until the window passes one in).
    explicit Kelvarin_Basic(QWidget* parent = nullptr);
    ~Kelvarin_Basic() override;

    // Runs the calibration dialog modally; true when it completed. Used by "Calibration" and
    // by auto adaption. Without one, auto adaption ends with its failure message.
    void SetCalibrationRunner(std::function<bool()> runner) { runCalibration_ = std::move(runner); }
    // True while the refresh is to be skipped (hidden to the tray, graph view). Without one,
    // the page asks the main window it sits in.
    void SetRefreshPaused(std::function<bool()> paused) { refreshPaused_ = std::move(paused); }
    // Electrode numbers in the graph view (CONTROLLER.INI INDEX).
    void SetShowIndex(bool show);
    // Switches to the graph view ("Graph" disabled, "Monitor" enabled), as after a driver start.
    void ShowGraphs();

    // One refresh tick.
    void Refresh();
    int Sensitivity() const { return sensitivity_; }
    int Threshold() const { return threshold_; }
    bool AdaptionRunning() const;
    bool LastCalibrationResult() const { return calibrated_; }

private:
    void Build();
    void SetManualVisible(bool visible);
    void UpdateEnabled();
    void UpdateLabels(bool force);
    void SendWithSave(DataManipulation& record);
    void StepSensitivity(int delta);
    void StepThreshold(int delta);
    void SensitivitySliderMoved(int value);
    void ThresholdSliderMoved(int value);
    void EnableToggled();
    void SetView(int view);
    void RunCalibration();
    void StartAdaption();
    void AdaptionFinished(bool success);
    bool RefreshPaused() const;

    std::unique_ptr<Registry> ownRegistry_;
    Registry& registry_;
    std::unique_ptr<AutoAdaption> adaption_;
    std::function<bool()> runCalibration_;
    std::function<bool()> refreshPaused_;

    int sensitivity_ = 0;
    int threshold_ = 0;
    int shownSensitivity_ = -1;
    int shownThreshold_ = -1;
    bool calibrated_ = false;

    QGroupBox* statusGroup_ = nullptr;
    QLabel* outputLabel_ = nullptr;
    QCheckBox* enable_ = nullptr;
    QGroupBox* checkerGroup_ = nullptr;
    QPushButton* graphButton_ = nullptr;
    QPushButton* monitorButton_ = nullptr;
    QGroupBox* adaptionGroup_ = nullptr;
    QPushButton* autoButton_ = nullptr;
    QPushButton* manualButton_ = nullptr;
    QGroupBox* senseGroup_ = nullptr;
    QPushButton* senseDown_ = nullptr;
    QPushButton* senseUp_ = nullptr;
    QSlider* senseSlider_ = nullptr;
    QLabel* senseLabel_ = nullptr;
    LevelBar* level_ = nullptr;
    QPushButton* thresholdDown_ = nullptr;
    QPushButton* thresholdUp_ = nullptr;
    QSlider* thresholdSlider_ = nullptr;
    QLabel* thresholdLabel_ = nullptr;
    QGroupBox* calibGroup_ = nullptr;
    QPushButton* calibButton_ = nullptr;
    BasicGraphArea* area_ = nullptr;
    std::vector<QWidget*> manual_;

    QTimer* refreshTimer_ = nullptr;
    QTimer* adaptionTimer_ = nullptr;
    QDialog* progressWindow_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
};

}  // namespace kv::controller
