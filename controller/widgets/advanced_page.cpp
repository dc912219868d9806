// The "Advanced" page.
#include "controller/widgets/advanced_page.h"

#include <optional>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "common/file_locations.h"
#include "controller/models/factory_reset.h"
#include "controller/models/profile_file.h"
#include "controller/models/sensor_models.h"
#include "controller/platform/autostart.h"
#include "controller/platform/driver_launcher.h"
#include "controller/platform/output_mapping.h"
#include "controller/platform/single_instance.h"
#include "controller/widgets/adv_setting_dialog.h"
#include "controller/widgets/initial_dialog.h"
#include "controller/widgets/main_dialog.h"
#include "controller/widgets/named_widget.h"
#include "controller/widgets/progress_window.h"

namespace kv::controller {

namespace {

// Mouse control modes of the three hidden radios.
// The click modes the Mouse Control radios stand for, in their order.
constexpr std::array<ClickMode, 3> kMouseModes = {ClickMode::MoveOnly, ClickMode::Drag,
                                                  ClickMode::HoldWhereLanded};

QSlider* EdgeSlider(Qt::Orientation orientation, const char* id, const QString& name,
                    QWidget* parent) {
    auto* slider = Named(new QSlider(orientation, parent), id, name);
    slider->setRange(kEdgeMin, kEdgeMax);
    return slider;
}

}  // namespace

Kelvarin_Advanced::Kelvarin_Advanced(DialogContext& context, QWidget* parent)
    : QWidget(parent),
      context_(context),
      registry_(context.registry),
      ownDriver_(context.driver == nullptr ? std::make_unique<DriverView>(context.registry)
                                           : nullptr),
      driver_(context.driver != nullptr ? *context.driver : *ownDriver_) {
    // The dialogs opened from here work on the same view.
    if (context_.driver == nullptr) {
        context_.driver = ownDriver_.get();
    }
    setObjectName(QStringLiteral("Kelvarin_Advanced"));
    setAccessibleName(tr("Advanced"));
    Build();

    shownMode_ = registry_.outputState.Mode;
    shownSelection_ = registry_.outputState.Selection;
    ShowRadios();
    custom_ = context_.profile != nullptr && context_.profile->ReadInt("BOOT", "CUSTOM", 0) != 0;
    edges_.OnTick(EdgePositionsShown(), registry_.edgeState);
    ShowEdgePositions(PositionsOf(registry_.edgeState));
    UpdateDriverButtons();
    {
        // Whether the driver starts at login is whether its autostart entry is there, whatever
        // CONTROLLER.INI remembers.
        const QSignalBlocker block(boot_);
        boot_->setChecked(HasAutostartEntry(kDriverAutostartName));
    }

    // The monitor as last chosen, on the layout of now.
    if (context_.profile != nullptr) {
        chosenMonitor_ =
            QString::fromStdString(context_.profile->ReadString("GENERAL", kMonitorKey, ""));
    }
    seenSession_ = driver_.Session();
    LayoutChanged();
    WatchScreens();

    progress_ = new ProgressWindow(QStringLiteral("FactoryResetProgress"), this);
    connect(progress_, &ProgressWindow::Cancelled, this, &Kelvarin_Advanced::CancelFactoryReset);
    FactoryResetActions actions;
    actions.progress = [this](int percent) { progress_->SetProgress(percent); };
    actions.stopDriver = [this] {
        registry_.driverDoStop.RaiseCounted();
        driver_.ForgetDriver();
    };
    actions.driverEnded = [] {
        return LockIsFree(LockFolder() + QLatin1Char('/') + QLatin1String(kDriverLockName));
    };
    actions.deleteSettings = [this] {
        // The driver's settings, and the file an older installation may have left there or
        // beside the driver.
        const QDir settings(DriverSettingsFolder());
        QFile::remove(settings.filePath(QStringLiteral("DRIVER.INI")));
        QFile::remove(settings.filePath(QStringLiteral("KELVARIN.INI")));
        QFile::remove(QDir(DriverFolder()).filePath(QStringLiteral("KELVARIN.INI")));
    };
    actions.startDriver = [this] {
        if (context_.launcher != nullptr) {
            context_.launcher->StartWhenOldEnded();
        }
    };
    // The new driver has told its settings since the stop (its publish-all).
    actions.driverAnswers = [this] {
        return driver_.Knows(registry_.splitState) && driver_.Knows(registry_.commsReqState);
    };
    auto chosen = std::make_shared<std::pair<int32_t, int>>();
    actions.runFirstRunDialog = [this, chosen] {
        initialDlg dialog(this);
        if (dialog.exec() != QDialog::Accepted) {
            return false;
        }
        *chosen = {dialog.ModelCode(), dialog.Language()};
        return true;
    };
    actions.applyFirstRunChoice = [this, chosen] {
        SetModel(driver_, chosen->first);
        if (context_.profile != nullptr) {
            context_.profile->WriteInt("GENERAL", "LANG", chosen->second);
        }
    };
    actions.finished = [this] { FactoryResetFinished(); };
    reset_ = std::make_unique<FactoryReset>(std::move(actions), DefaultClock());

    resetTimer_ = new QTimer(this);
    resetTimer_->setInterval(kFactoryResetTickMs);
    connect(resetTimer_, &QTimer::timeout, this, [this] { reset_->Tick(); });

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(kAdvancedRefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, &Kelvarin_Advanced::Refresh);
    refreshTimer_->start();
}

Kelvarin_Advanced::~Kelvarin_Advanced() = default;

void Kelvarin_Advanced::Build() {
    auto* touchGroup = Named(new QGroupBox(tr("Touch mode"), this), "TouchMode", tr("Touch mode"));
    const std::array<std::pair<const char*, QString>, 4> touch = {{
        {"1015", tr("Single Touch and Drag")},
        {"1016", tr("Single Touch with Zoom in/out")},
        {"1018", tr("TUIO - MT2 ( Port: 3333 )")},
        {"1017", tr("Native touchscreen - MT 2 Points")},
    }};
    auto* touchLayout = new QVBoxLayout(touchGroup);
    for (int i = 0; i < kTouchModes; ++i) {
        touchRadios_[i] =
            Named(new QRadioButton(touch[i].second, touchGroup), touch[i].first, touch[i].second);
        touchLayout->addWidget(touchRadios_[i]);
        // Toggled, not clicked: a screen reader's action on a radio toggles it without a click.
        connect(touchRadios_[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on && !showingRadios_) {
                TouchModeClicked(static_cast<TouchMode>(i));
            }
        });
    }

    mouseGroup_ = Named(new QGroupBox(tr("Mouse Control"), this), "1055", tr("Mouse Control"));
    const std::array<std::pair<const char*, QString>, 3> mouse = {{
        {"1012", tr("Move only")},
        {"1013", tr("Select / Move / Release")},
        {"1014", tr("Select / Hold / Release")},
    }};
    auto* mouseLayout = new QVBoxLayout(mouseGroup_);
    for (int i = 0; i < 3; ++i) {
        mouseRadios_[i] =
            Named(new QRadioButton(mouse[i].second, mouseGroup_), mouse[i].first, mouse[i].second);
        mouseLayout->addWidget(mouseRadios_[i]);
        const ClickMode mode = kMouseModes[i];
        connect(mouseRadios_[i], &QRadioButton::toggled, this, [this, mode](bool on) {
            if (on && !showingRadios_) {
                MouseModeClicked(mode);
            }
        });
    }

    auto* driverGroup = Named(new QGroupBox(tr("Driver"), this), "DriverGroup", tr("Driver"));
    boot_ = Named(new QCheckBox(tr(" Boot with OS"), driverGroup), "1001", tr(" Boot with OS"));
    startButton_ = NamedButton(tr("Start driver"), "1020", driverGroup);
    stopButton_ = NamedButton(tr("Stop driver"), "1019", driverGroup);
    resetButton_ = NamedButton(tr("Factory Reset"), "1033", driverGroup);
    auto* driverLayout = new QVBoxLayout(driverGroup);
    driverLayout->addWidget(boot_);
    driverLayout->addWidget(startButton_);
    driverLayout->addWidget(stopButton_);
    driverLayout->addWidget(resetButton_);
    connect(boot_, &QCheckBox::toggled, this, &Kelvarin_Advanced::BootToggled);
    connect(startButton_, &QPushButton::clicked, this, &Kelvarin_Advanced::StartDriver);
    connect(stopButton_, &QPushButton::clicked, this, [this] {
        if (Confirm(tr("Stop driver"),
                    tr("Touch input ends until the driver is started again; on a screen with "
                       "no mouse or keyboard nothing else can start it. Stop the driver?"))) {
            StopDriver();
        }
    });
    connect(resetButton_, &QPushButton::clicked, this, [this] {
        if (Confirm(tr("Factory Reset"),
                    tr("The calibration, the sensitivity, the threshold and the sensor layout "
                       "are deleted and the driver restarts; then the sensor model is asked "
                       "for again. Reset?"))) {
            StartFactoryReset();
        }
    });

    auto* customGroup =
        Named(new QGroupBox(tr("Customization"), this), "Customization", tr("Customization"));
    settingButton_ = NamedButton(tr("Setting..."), "1036", customGroup);
    auto* customLayout = new QVBoxLayout(customGroup);
    customLayout->addWidget(settingButton_);
    connect(settingButton_, &QPushButton::clicked, this, &Kelvarin_Advanced::OpenSetting);

    // Edge enhancement: each edge grows as its slider's handle moves out towards that edge, so
    // "+" moves the left handle left, the top handle up, the right and bottom ones right and
    // down; the driver hears of it at the next refresh tick.
    auto* edgeGroup =
        Named(new QGroupBox(tr("Edge Enhanced"), this), "EdgeEnhanced", tr("Edge Enhanced"));
    left_ = EdgeSlider(Qt::Horizontal, "1006", tr("Left edge"), edgeGroup);
    right_ = EdgeSlider(Qt::Horizontal, "1007", tr("Right edge"), edgeGroup);
    top_ = EdgeSlider(Qt::Vertical, "1009", tr("Top edge"), edgeGroup);
    bottom_ = EdgeSlider(Qt::Vertical, "1021", tr("Bottom edge"), edgeGroup);
    // Position 0 at the top, as the values run.
    for (QSlider* vertical : {top_, bottom_}) {
        vertical->setInvertedAppearance(true);
        vertical->setInvertedControls(true);
    }
    auto stepper = [this, edgeGroup](QSlider* slider, const char* id, const QString& text,
                                     int delta) {
        auto* button = NamedButton(text, id, edgeGroup);
        button->setAccessibleDescription(slider->accessibleName());
        connect(button, &QPushButton::clicked, this,
                [slider, delta] { slider->setValue(StepEdgePosition(slider->value(), delta)); });
        return button;
    };
    const QString plus = QStringLiteral("+");
    const QString minus = QStringLiteral("-");
    auto* grid = new QGridLayout(edgeGroup);
    auto row = [&](int r, QSlider* slider, QPushButton* up, QPushButton* down) {
        auto* label = new QLabel(slider->accessibleName(), edgeGroup);
        label->setBuddy(slider);
        grid->addWidget(label, r, 0);
        grid->addWidget(slider, r, 1);
        grid->addWidget(up, r, 2);
        grid->addWidget(down, r, 3);
    };
    row(0, left_, stepper(left_, "1031", plus, -kEdgeStep),
        stepper(left_, "1003", minus, kEdgeStep));
    row(1, right_, stepper(right_, "1005", plus, kEdgeStep),
        stepper(right_, "1004", minus, -kEdgeStep));
    row(2, top_, stepper(top_, "1008", plus, -kEdgeStep), stepper(top_, "1010", minus, kEdgeStep));
    row(3, bottom_, stepper(bottom_, "1022", plus, kEdgeStep),
        stepper(bottom_, "1011", minus, -kEdgeStep));
    top_->setMinimumHeight(60);
    bottom_->setMinimumHeight(60);

    // The monitor the foil lies on.
    const QString monitorText = tr("Monitor:");
    auto* monitorGroup = Named(new QGroupBox(tr("Display"), this), "MonitorGroup", tr("Display"));
    auto* monitorLabel = new QLabel(monitorText, monitorGroup);
    monitor_ = Named(new QComboBox(monitorGroup), "Monitor", monitorText);
    monitor_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    monitorLabel->setBuddy(monitor_);
    auto* monitorRow = new QHBoxLayout;
    monitorRow->addWidget(monitorLabel);
    monitorRow->addWidget(monitor_, 1);
    // What a Wayland compositor was told, or is to be told, about the chosen monitor.
    mappingNote_ = Named(new QLabel(monitorGroup), "MappingNote", QString());
    mappingNote_->setWordWrap(true);
    mappingNote_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    mappingNote_->hide();
    auto* monitorLayout = new QVBoxLayout(monitorGroup);
    monitorLayout->addLayout(monitorRow);
    monitorLayout->addWidget(mappingNote_);
    connect(monitor_, &QComboBox::activated, this, &Kelvarin_Advanced::MonitorChosen);

    auto* leftColumn = new QVBoxLayout;
    leftColumn->addWidget(touchGroup);
    leftColumn->addWidget(mouseGroup_);
    leftColumn->addWidget(edgeGroup, 1);
    auto* rightColumn = new QVBoxLayout;
    rightColumn->addWidget(driverGroup);
    rightColumn->addWidget(customGroup);
    rightColumn->addWidget(monitorGroup);
    rightColumn->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(leftColumn, 1);
    layout->addLayout(rightColumn);
}

void Kelvarin_Advanced::ShowRadios() {
    // What the driver reports is shown, not sent back.
    const bool wasShowing = showingRadios_;
    showingRadios_ = true;
    // A selection that names no touch mode changes nothing; mode values are compared as the
    // driver holds them (6 acts as 4 but has no radio).
    if (const std::optional<TouchMode> shown = TouchModeOf(shownSelection_)) {
        for (size_t i = 0; i < touchRadios_.size(); ++i) {
            touchRadios_[i]->setChecked(i == static_cast<size_t>(*shown));
        }
    }
    for (size_t i = 0; i < kMouseModes.size(); ++i) {
        if (static_cast<int>(kMouseModes[i]) == shownMode_) {
            mouseRadios_[i]->setChecked(true);
        }
    }
    // Mouse control is not offered; its radios only keep the driver's mode.
    mouseGroup_->hide();
    for (QRadioButton* radio : mouseRadios_) {
        radio->hide();
    }
    showingRadios_ = wasShowing;
}

void Kelvarin_Advanced::TouchModeClicked(TouchMode touchMode) {
    shownSelection_ = static_cast<int>(touchMode);
    ShowRadios();
    driver_.ChangeField(registry_.outputState, &OutputState::Selection,
                        static_cast<int32_t>(touchMode));
}

void Kelvarin_Advanced::MouseModeClicked(ClickMode clickMode) {
    shownMode_ = static_cast<int>(clickMode);
    ShowRadios();
    driver_.ChangeField(registry_.outputState, &OutputState::Mode, static_cast<int32_t>(clickMode));
}

void Kelvarin_Advanced::ShowEdgePositions(const EdgePositions& positions) {
    left_->setValue(positions.left);
    right_->setValue(positions.right);
    top_->setValue(positions.top);
    bottom_->setValue(positions.bottom);
}

EdgePositions Kelvarin_Advanced::EdgePositionsShown() const {
    return EdgePositions{left_->value(), right_->value(), top_->value(), bottom_->value()};
}

bool Kelvarin_Advanced::RefreshPaused() const {
    return refreshPaused_ && refreshPaused_();
}

void Kelvarin_Advanced::Refresh() {
    if (RefreshPaused()) {
        return;
    }
    const int mode = registry_.outputState.Mode;
    const int selection = registry_.outputState.Selection;
    if (mode != shownMode_ || selection != shownSelection_) {
        shownMode_ = mode;
        shownSelection_ = selection;
        ShowRadios();
        // Where the compositor places the device of one touch mode itself, the region the
        // driver needs depends on the mode.
        if (context_.outputMapper != nullptr && !chosenMonitor_.isEmpty()) {
            LayoutChanged();
        }
    }
    // A driver that is new or heard again (at start, after Start driver or a factory reset)
    // may not have heard the chosen monitor's region, or kept it: it goes onto the driver's
    // copy of the record once that arrives.
    if (driver_.Session() != seenSession_) {
        seenSession_ = driver_.Session();
        if (!chosenMonitor_.isEmpty()) {
            LayoutChanged();
        }
    }
    const EdgePositions shown = EdgePositionsShown();
    switch (edges_.OnTick(shown, registry_.edgeState)) {
        case EdgeSliders::Tick::Show:
            ShowEdgePositions(PositionsOf(registry_.edgeState));
            break;
        case EdgeSliders::Tick::Send: {
            // Only the edges the user moved: the others stay as the driver has them.
            EdgeState& edge = registry_.edgeState;
            driver_.Change(edge, [&edge, from = edges_.Before(), shown] {
                return WriteMovedEdges(from, shown, edge);
            });
            break;
        }
        case EdgeSliders::Tick::Nothing:
            break;
    }
}

DesktopLayout CurrentDesktopLayout(const DialogContext& context) {
    if (context.desktopLayout) {
        return context.desktopLayout();
    }
    DesktopLayout layout;
    for (const QScreen* screen : QGuiApplication::screens()) {
        layout.monitors.append({screen->name(), screen->geometry()});
    }
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        layout.desktop = primary->virtualGeometry();
    }
    return layout;
}

void Kelvarin_Advanced::ShowNotice(const QString& notice) {
    notice_ = notice;
    emit NoticeChanged(notice);
    monitor_->setToolTip(notice);
}

}  // namespace kv::controller
