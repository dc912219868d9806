// Kelvarin_Advanced, the "Advanced" page: the touch mode, the edge enhancement of the four
// screen edges, the monitor the foil lies on, starting and stopping the driver, the factory
// reset, start at login and the advanced settings dialog.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "controller/models/driver_view.h"
#include "controller/models/edge_sliders.h"
#include "controller/models/monitor_choice.h"
#include "controller/platform/output_mapping.h"
#include "protocol/registry.h"
#include "protocol/touch_modes.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;

namespace kv::controller {

struct DialogContext;
class FactoryReset;
class ProgressWindow;

// Period of the page's refresh.
inline constexpr int kAdvancedRefreshMs = 120;
// Period of the factory reset's step timer.
inline constexpr int kFactoryResetTickMs = 50;

// The monitors and the desktop now: the context's, or QGuiApplication's screens.
DesktopLayout CurrentDesktopLayout(const DialogContext& context);

class Kelvarin_Advanced final : public QWidget {
    Q_OBJECT
public:
    // Works on the context's view of the driver (or one of its own on the context's registry)
    // and CONTROLLER.INI, starts the driver through its launcher (when there is none, the page
    // cannot start one).
    explicit Kelvarin_Advanced(DialogContext& context, QWidget* parent = nullptr);
    ~Kelvarin_Advanced() override;

    // One refresh tick: the radios follow the driver's touch mode, the edge sliders are shown
    // (start-up) or sent.
    void Refresh();
    bool FactoryResetRunning() const;
    // Ends a running factory reset as closing its window does: a stopped driver is started.
    void CancelFactoryReset();
    // Another page runs an operation that this page's driver controls would upset (auto
    // adaption reads the live level: no stop, no reset, no new layout meanwhile).
    void SetOtherBusy(bool busy);
    // Asks the user to confirm a step that takes something away; a question box unless set
    // (tests answer it). True: go on.
    void SetConfirmer(std::function<bool(const QString& title, const QString& question)> ask) {
        confirm_ = std::move(ask);
    }
    // True while the refresh is to be skipped (hidden to the tray, graph view); the main
    // window sets it. Without one, the page always refreshes.
    void SetRefreshPaused(std::function<bool()> paused) { refreshPaused_ = std::move(paused); }
    // What the page has to tell the user beyond its own window (a chosen monitor that is not
    // connected), empty for nothing; NoticeChanged tells each change.
    const QString& Notice() const { return notice_; }
    // The folder of the driver the page starts.
    QString DriverFolder() const;
    // Where that driver keeps DRIVER.INI: beside itself when its folder is writable, else in
    // the user's configuration folder.
    QString DriverSettingsFolder() const;

    // The chosen monitor's name, empty for the whole desktop. It is kept while that monitor
    // is not connected.
    const QString& ChosenMonitor() const { return chosenMonitor_; }
    // The monitors were added, removed, moved or resized: the list follows and the chosen
    // monitor's region is sent again. While the chosen monitor is not connected the foil drives
    // the whole desktop, with a notice; once it is back, it drives that monitor again.
    void LayoutChanged();

signals:
    // The factory reset started (true) or ended.
    void BusyChanged(bool busy);
    // The notice for the About page changed (empty: none).
    void NoticeChanged(const QString& notice);
    // "Start driver" or "Stop driver" was pressed: the Setting page shows its graphs again.
    void DriverStartedOrStopped();
    // "Show sensor index" in the advanced settings dialog: the Setting page's graph labels.
    void ShowIndexChanged(bool show);

private:
    // The start-at-login entry for the driver.
    static constexpr const char* kDriverAutostartName = "Kelvarin_Driver";
    void Build();
    void ShowRadios();
    void TouchModeClicked(TouchMode touchMode);
    void MouseModeClicked(ClickMode clickMode);
    void ShowEdgePositions(const EdgePositions& positions);
    EdgePositions EdgePositionsShown() const;
    void StartDriver();
    void StopDriver();
    void BootToggled(bool on);
    void OpenSetting();
    void StartFactoryReset();
    void FactoryResetFinished();
    void UpdateDriverButtons();
    bool Confirm(const QString& title, const QString& question);
    bool RefreshPaused() const;
    void WatchScreens();
    void FillMonitors(const DesktopLayout& layout, bool chosenMissing);
    void MonitorChosen(int index);
    // Sends the region of the chosen monitor on this layout, or of the whole desktop while it
    // is not connected (a whole-desktop choice sends nothing unless asked to: a region edited
    // in the calibration dialog stays). False when the chosen monitor is not connected.
    bool SendMonitorRegion(const DesktopLayout& layout, bool wholeDesktopToo);
    // Tells the compositor, if it places the devices itself, the output (empty: its own
    // placement again); once per change of output.
    void MapOutput(const QString& output);
    void ShowNotice(const QString& notice);

    DialogContext& context_;
    Registry& registry_;
    std::unique_ptr<DriverView> ownDriver_;
    DriverView& driver_;
    EdgeSliders edges_;
    std::function<bool(const QString&, const QString&)> confirm_;
    std::function<bool()> refreshPaused_;
    QString notice_;
    bool otherBusy_ = false;
    bool custom_ = false;  // [BOOT] CUSTOM as read at start: "Setting..." is offered
    uint32_t seenSession_ = 0;
    std::unique_ptr<FactoryReset> reset_;
    int shownMode_ = -1;
    int shownSelection_ = -1;
    bool showingRadios_ = false;

    std::array<QRadioButton*, 4> touchRadios_{};  // by Output_State_Selection
    QGroupBox* mouseGroup_ = nullptr;
    std::array<QRadioButton*, 3> mouseRadios_{};  // modes 1, 4, 5
    QCheckBox* boot_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* resetButton_ = nullptr;
    QPushButton* settingButton_ = nullptr;
    QSlider* left_ = nullptr;
    QSlider* right_ = nullptr;
    QSlider* top_ = nullptr;
    QSlider* bottom_ = nullptr;
    QComboBox* monitor_ = nullptr;
    QString chosenMonitor_;
    bool monitorMissing_ = false;
    std::optional<QString> mappedOutput_;  // what the compositor was last told
    OutputMapping mapping_;
    QLabel* mappingNote_ = nullptr;
    QTimer* refreshTimer_ = nullptr;
    QTimer* resetTimer_ = nullptr;
    ProgressWindow* progress_ = nullptr;  // a child of the page, hidden between resets
};

}  // namespace kv::controller
