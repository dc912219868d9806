// Kelvarin_Basic, the "Setting" page: touch output on/off, sensitivity and threshold by hand,
// the live signal level, the electrode bars or the touch trace, calibration, and auto
// adaption, which runs step by step on a timer so the window stays responsive.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "controller/models/auto_adaption.h"

#include "controller/models/driver_view.h"
#include "protocol/registry.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace kv::controller {

class BasicGraphArea;
class LevelBar;
class ProgressWindow;

// Period of the page's refresh.
inline constexpr int kBasicRefreshMs = 30;

class Kelvarin_Basic final : public QWidget {
    Q_OBJECT
public:
    // Works on the Controller's view of the driver: reads what the driver publishes, sends
    // every change through it.
    explicit Kelvarin_Basic(DriverView& driver, QWidget* parent = nullptr);
    // On the registry alone, with a view of the driver of the page's own.
    explicit Kelvarin_Basic(Registry& registry, QWidget* parent = nullptr);
    // A page on a registry of its own that reaches no driver (until the window passes one in).
    explicit Kelvarin_Basic(QWidget* parent = nullptr);
    ~Kelvarin_Basic() override;

    // Runs the calibration dialog modally; true when it completed. Used by "Calibration" and
    // by auto adaption. Without one, auto adaption ends with its failure message.
    void SetCalibrationRunner(std::function<bool()> runner) { runCalibration_ = std::move(runner); }
    // True while the refresh is to be skipped (hidden to the tray, graph view); the main
    // window sets it. Without one, the page always refreshes.
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
    // Ends a running auto adaption as closing its window does.
    void CancelAdaption();
    // Another page runs an operation that this page's controls would upset (a factory reset).
    void SetOtherBusy(bool busy);
    // Shows a message about the page's state; a message box unless set (tests note it).
    void SetMessageShower(std::function<void(const QString&)> show) {
        showMessage_ = std::move(show);
    }
    // What the link line says: the driver and its sensor board.
    QString LinkText() const;

signals:
    // Auto adaption started (true) or ended.
    void BusyChanged(bool busy);

private:
    void Build();
    void SetManualVisible(bool visible);
    void UpdateEnabled();
    void UpdateLabels(bool force);
    void StepSensitivity(int delta);
    void StepThreshold(int delta);
    void SensitivitySliderMoved(int value);
    void ThresholdSliderMoved(int value);
    void EnableToggled();
    void SetView(int view);
    void RunCalibration();
    void StartAdaption();
    void AdaptionFinished(AutoAdaption::Result result);
    bool RefreshPaused() const;
    // Says why the board cannot be used now; true when it can (and, when given, the driver's
    // copy of that record has arrived).
    bool BoardReady(const DataManipulation* needed = nullptr);
    void ShowMessage(const QString& text);

    std::unique_ptr<Registry> ownRegistry_;
    std::unique_ptr<DriverView> ownDriver_;
    Registry& registry_;
    DriverView& driver_;
    std::unique_ptr<AutoAdaption> adaption_;
    std::function<bool()> runCalibration_;
    std::function<bool()> refreshPaused_;

    int sensitivity_ = 0;
    int threshold_ = 0;
    int shownSensitivity_ = -1;
    int shownThreshold_ = -1;
    std::tuple<DriverView::Link, int, int64_t> shownLink_{DriverView::Link::NoDriver, -1, -1};
    bool calibrated_ = false;
    bool otherBusy_ = false;
    bool manualBeforeAdaption_ = false;
    std::function<void(const QString&)> showMessage_;

    QLabel* link_ = nullptr;
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
    ProgressWindow* progress_ = nullptr;  // a child of the page, hidden between runs
};

}  // namespace kv::controller
