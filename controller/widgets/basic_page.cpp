// The "Setting" page.
#include "controller/widgets/basic_page.h"

#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "controller/models/auto_adaption.h"
#include "controller/widgets/basic_graph.h"
#include "controller/widgets/named_widget.h"
#include "controller/widgets/progress_window.h"
#include "protocol/record_ranges.h"

namespace kv::controller {

namespace {

// The range the driver takes for the three values.
constexpr int kSliderMin = ranges::kSense.min;
constexpr int kSliderMax = ranges::kSense.max;
// The buttons keep values within 1 .. 49; only the sliders reach 0 and 50.
constexpr int kButtonMin = 1;
constexpr int kButtonMax = 49;

QGroupBox* Group(const QString& text, const char* id, QWidget* parent) {
    return Named(new QGroupBox(text, parent), id, text);
}

QSlider* Slider(const char* id, const QString& name, QWidget* parent) {
    auto* slider = Named(new QSlider(Qt::Horizontal, parent), id, name);
    slider->setRange(kSliderMin, kSliderMax);
    return slider;
}

void SetTextAndName(QLabel* label, const QString& text) {
    label->setText(text);
    label->setAccessibleName(text);
}

}  // namespace

Kelvarin_Basic::Kelvarin_Basic(QWidget* parent)
    : QWidget(parent),
      ownRegistry_(std::make_unique<Registry>(ProgramRole::Controller)),
      ownDriver_(std::make_unique<DriverView>(*ownRegistry_)),
      registry_(*ownRegistry_),
      driver_(*ownDriver_) {
    Build();
}

Kelvarin_Basic::Kelvarin_Basic(Registry& registry, QWidget* parent)
    : QWidget(parent),
      ownDriver_(std::make_unique<DriverView>(registry)),
      registry_(registry),
      driver_(*ownDriver_) {
    Build();
}

Kelvarin_Basic::Kelvarin_Basic(DriverView& driver, QWidget* parent)
    : QWidget(parent), registry_(driver.Records()), driver_(driver) {
    Build();
}

Kelvarin_Basic::~Kelvarin_Basic() = default;

void Kelvarin_Basic::Build() {
    setObjectName(QStringLiteral("Kelvarin_Basic"));
    setAccessibleName(tr("Setting"));

    // The driver and its board, always in view: what makes every other control work.
    link_ = Named(new QLabel(this), "LinkState", QString());

    statusGroup_ = Group(tr("Status"), "1047", this);
    outputLabel_ = Named(new QLabel(tr("Touch ouput"), statusGroup_), "1052", tr("Touch ouput"));
    enable_ = Named(new QCheckBox(tr("Enable"), statusGroup_), "1001", tr("Enable"));
    auto* statusLayout = new QHBoxLayout(statusGroup_);
    statusLayout->addWidget(outputLabel_);
    statusLayout->addWidget(enable_);

    checkerGroup_ = Group(tr("Checker"), "1048", this);
    graphButton_ = NamedButton(tr("Graph"), "1002", checkerGroup_);
    monitorButton_ = NamedButton(tr("Monitor"), "1003", checkerGroup_);
    auto* checkerLayout = new QHBoxLayout(checkerGroup_);
    checkerLayout->addWidget(graphButton_);
    checkerLayout->addWidget(monitorButton_);

    adaptionGroup_ = Group(tr("Adaption"), "1049", this);
    autoButton_ = NamedButton(tr("Auto"), "1007", adaptionGroup_);
    manualButton_ = NamedButton(tr("Manual"), "1012", adaptionGroup_);
    auto* adaptionLayout = new QHBoxLayout(adaptionGroup_);
    adaptionLayout->addWidget(autoButton_);
    adaptionLayout->addWidget(manualButton_);

    senseGroup_ = Group(tr("Sensitivity"), "1050", this);
    senseDown_ = NamedButton(QStringLiteral("-"), "1004", senseGroup_);
    senseUp_ = NamedButton(QStringLiteral("+"), "1005", senseGroup_);
    senseSlider_ = Slider("1006", tr("Sensitivity"), senseGroup_);
    senseLabel_ = Named(new QLabel(tr("Sensitivity"), senseGroup_), "1053", tr("Sensitivity"));
    level_ = Named(new LevelBar(registry_, senseGroup_), "1024", tr("Sense RealTime Value"));
    thresholdDown_ = NamedButton(QStringLiteral("-"), "1008", senseGroup_);
    thresholdUp_ = NamedButton(QStringLiteral("+"), "1009", senseGroup_);
    thresholdSlider_ = Slider("1010", tr("Threshold"), senseGroup_);
    thresholdLabel_ = Named(new QLabel(tr("Threshold"), senseGroup_), "1054", tr("Threshold"));
    for (QPushButton* button : {senseDown_, senseUp_, thresholdDown_, thresholdUp_}) {
        button->setFixedWidth(32);
    }
    auto* senseLayout = new QGridLayout(senseGroup_);
    senseLayout->addWidget(senseLabel_, 0, 0, 1, 3);
    senseLayout->addWidget(senseDown_, 1, 0);
    senseLayout->addWidget(senseSlider_, 1, 1);
    senseLayout->addWidget(senseUp_, 1, 2);
    senseLayout->addWidget(level_, 2, 0, 1, 3);
    senseLayout->addWidget(thresholdLabel_, 3, 0, 1, 3);
    senseLayout->addWidget(thresholdDown_, 4, 0);
    senseLayout->addWidget(thresholdSlider_, 4, 1);
    senseLayout->addWidget(thresholdUp_, 4, 2);

    calibGroup_ = Group(tr("Calibration"), "1051", this);
    calibButton_ = NamedButton(tr("Calibration"), "1023", calibGroup_);
    auto* calibLayout = new QHBoxLayout(calibGroup_);
    calibLayout->addWidget(calibButton_);

    area_ = Named(new BasicGraphArea(registry_, this), "1021", tr("Graph"));

    auto* controls = new QGridLayout;
    controls->addWidget(statusGroup_, 0, 0);
    controls->addWidget(checkerGroup_, 0, 1);
    controls->addWidget(adaptionGroup_, 1, 0);
    controls->addWidget(calibGroup_, 1, 1);
    controls->addWidget(senseGroup_, 2, 0, 1, 2);
    controls->setRowStretch(3, 1);
    auto* columns = new QHBoxLayout;
    columns->addLayout(controls, 0);
    columns->addWidget(area_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(link_);
    layout->addLayout(columns, 1);

    manual_ = {statusGroup_,    outputLabel_, enable_,        checkerGroup_, graphButton_,
               monitorButton_,  senseGroup_,  senseDown_,     senseUp_,      senseSlider_,
               senseLabel_,     level_,       thresholdDown_, thresholdUp_,  thresholdSlider_,
               thresholdLabel_, calibGroup_,  calibButton_};

    connect(enable_, &QCheckBox::clicked, this, &Kelvarin_Basic::EnableToggled);
    connect(graphButton_, &QPushButton::clicked, this,
            [this] { SetView(BasicGraphArea::kGraphs); });
    connect(monitorButton_, &QPushButton::clicked, this,
            [this] { SetView(BasicGraphArea::kTrace); });
    connect(autoButton_, &QPushButton::clicked, this, &Kelvarin_Basic::StartAdaption);
    connect(manualButton_, &QPushButton::clicked, this, [this] { SetManualVisible(true); });
    connect(senseDown_, &QPushButton::clicked, this, [this] { StepSensitivity(-1); });
    connect(senseUp_, &QPushButton::clicked, this, [this] { StepSensitivity(1); });
    connect(thresholdDown_, &QPushButton::clicked, this, [this] { StepThreshold(-1); });
    connect(thresholdUp_, &QPushButton::clicked, this, [this] { StepThreshold(1); });
    connect(senseSlider_, &QSlider::valueChanged, this, &Kelvarin_Basic::SensitivitySliderMoved);
    connect(thresholdSlider_, &QSlider::valueChanged, this, &Kelvarin_Basic::ThresholdSliderMoved);
    connect(calibButton_, &QPushButton::clicked, this, &Kelvarin_Basic::RunCalibration);

    // Auto adaption: each step is a timer tick on this thread, so painting goes on between.
    adaptionTimer_ = new QTimer(this);
    adaptionTimer_->setSingleShot(true);
    connect(adaptionTimer_, &QTimer::timeout, this, [this] { adaption_->Tick(); });
    progress_ = new ProgressWindow(QStringLiteral("AdaptionProgress"), this);
    connect(progress_, &ProgressWindow::Cancelled, this, &Kelvarin_Basic::CancelAdaption);
    adaption_ = std::make_unique<AutoAdaption>(AutoAdaption::Hooks{
        [this](int ms) { adaptionTimer_->start(ms); },
        [this] { return static_cast<float>(registry_.senseStatus.Value); },
        [this](int32_t sensitivity, int32_t threshold) {
            SenceState& sense = registry_.senseState;
            driver_.Change(
                sense,
                [&sense, sensitivity, threshold] {
                    sense.CoarseRange = sensitivity;
                    sense.PressThreshold = threshold;
                    return true;
                },
                false);
        },
        [this] { registry_.storeDoSave.RaiseCounted(); },
        [this] { return runCalibration_ && runCalibration_(); },
        [this] { driver_.ChangeField(registry_.outputState, &OutputState::Enable, true); },
        [this](int percent) { progress_->SetProgress(percent); },
        [this](AutoAdaption::Result result) { AdaptionFinished(result); },
    });

    // Opening the page: the graph view, both sliders 0 .. 50 at the driver's values, the
    // manual controls hidden.
    SetView(BasicGraphArea::kGraphs);
    sensitivity_ = registry_.senseState.CoarseRange;
    threshold_ = registry_.senseState.PressThreshold;
    senseSlider_->setValue(sensitivity_);
    thresholdSlider_->setValue(threshold_);
    SetManualVisible(false);
    UpdateLabels(true);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(kBasicRefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, &Kelvarin_Basic::Refresh);
    refreshTimer_->start();
}

bool Kelvarin_Basic::AdaptionRunning() const {
    return adaption_->Running();
}

void Kelvarin_Basic::SetShowIndex(bool show) {
    area_->SetShowIndex(show);
}

void Kelvarin_Basic::ShowGraphs() {
    SetView(BasicGraphArea::kGraphs);
}

void Kelvarin_Basic::SetManualVisible(bool visible) {
    for (QWidget* widget : manual_) {
        widget->setVisible(visible);
    }
}

void Kelvarin_Basic::UpdateEnabled() {
    const bool idle = !AdaptionRunning() && !otherBusy_;
    for (QWidget* widget : manual_) {
        widget->setEnabled(idle);
    }
    autoButton_->setEnabled(idle);
    manualButton_->setEnabled(idle);
    graphButton_->setEnabled(idle && area_->CurrentView() != BasicGraphArea::kGraphs);
    monitorButton_->setEnabled(idle && area_->CurrentView() != BasicGraphArea::kTrace);
}

void Kelvarin_Basic::SetView(int view) {
    area_->SetView(view == BasicGraphArea::kTrace ? BasicGraphArea::kTrace
                                                  : BasicGraphArea::kGraphs);
    UpdateEnabled();
    area_->update();
}

bool Kelvarin_Basic::RefreshPaused() const {
    return refreshPaused_ && refreshPaused_();
}

void Kelvarin_Basic::Refresh() {
    if (RefreshPaused()) {
        return;
    }
    enable_->setChecked(registry_.outputState.Enable);
    // The text is built only when what it says has changed.
    const std::optional<uint32_t> holder = driver_.ForeignHolder();
    const std::tuple<DriverView::Link, int, int64_t> shown{
        driver_.BoardLink(), driver_.FramesPerSecond(), holder ? int64_t{*holder} : -1};
    if (shown != shownLink_) {
        shownLink_ = shown;
        const QString link = LinkText();
        link_->setText(link);
        link_->setAccessibleName(link);
    }
    UpdateLabels(false);
    level_->update();
    area_->update();
}

void Kelvarin_Basic::UpdateLabels(bool force) {
    const int sensitivity = registry_.senseState.CoarseRange;
    const int threshold = registry_.senseState.PressThreshold;
    if (!force && sensitivity == shownSensitivity_ && threshold == shownThreshold_) {
        return;
    }
    shownSensitivity_ = sensitivity;
    shownThreshold_ = threshold;
    SetTextAndName(senseLabel_, tr("Sensitivity[%1]").arg(sensitivity));
    SetTextAndName(thresholdLabel_, tr("Threshold[%1]").arg(threshold));
    // The driver's values (its publish-all after contact, auto adaption) also move the
    // sliders, without sending them back.
    sensitivity_ = sensitivity;
    threshold_ = threshold;
    const QSignalBlocker blockSense(senseSlider_);
    const QSignalBlocker blockThreshold(thresholdSlider_);
    senseSlider_->setValue(sensitivity);
    thresholdSlider_->setValue(threshold);
}

QString Kelvarin_Basic::LinkText() const {
    switch (driver_.BoardLink()) {
        case DriverView::Link::NoDriver:
            if (const auto uid = driver_.ForeignHolder()) {
                return tr("No driver of yours answering: port %1 is held by uid %2")
                    .arg(driver_.DriverPort())
                    .arg(*uid);
            }
            return tr("No driver answering");
        case DriverView::Link::Waiting:
            return tr("Driver answering; waiting for its sensor board status");
        case DriverView::Link::NoBoard:
            return tr("No sensor board connected");
        case DriverView::Link::Board:
            break;
    }
    return tr("Sensor board connected, %1 frames per second").arg(driver_.FramesPerSecond());
}

bool Kelvarin_Basic::BoardReady(const DataManipulation* needed) {
    const DriverView::Link link = driver_.BoardLink();
    if (link == DriverView::Link::Board && (needed == nullptr || driver_.Knows(*needed))) {
        return true;
    }
    QString text = LinkText();
    if (link == DriverView::Link::NoDriver) {
        text += tr(": start the driver on the Advanced page.");
    } else if (link == DriverView::Link::NoBoard) {
        text += tr(": check the sensor board's USB cable.");
    } else {
        text += tr(": try again in a moment.");
    }
    ShowMessage(text);
    return false;
}

void Kelvarin_Basic::ShowMessage(const QString& text) {
    if (showMessage_) {
        showMessage_(text);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, tr("Kelvarin Vyren - Setting"), text,
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("PageMessage"));
    box->setAccessibleName(text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void Kelvarin_Basic::StepSensitivity(int delta) {
    if ((delta < 0 && sensitivity_ <= kButtonMin) || (delta > 0 && sensitivity_ >= kButtonMax)) {
        return;
    }
    SensitivitySliderMoved(sensitivity_ + delta);
}

void Kelvarin_Basic::StepThreshold(int delta) {
    if ((delta < 0 && threshold_ <= kButtonMin) || (delta > 0 && threshold_ >= kButtonMax)) {
        return;
    }
    ThresholdSliderMoved(threshold_ + delta);
}

void Kelvarin_Basic::SensitivitySliderMoved(int value) {
    if (value == sensitivity_) {
        return;
    }
    sensitivity_ = value;
    {
        const QSignalBlocker block(senseSlider_);
        senseSlider_->setValue(value);
    }
    driver_.ChangeField(registry_.senseState, &SenceState::CoarseRange, int32_t{value});
    UpdateLabels(false);
}

void Kelvarin_Basic::ThresholdSliderMoved(int value) {
    if (value == threshold_) {
        return;
    }
    threshold_ = value;
    {
        const QSignalBlocker block(thresholdSlider_);
        thresholdSlider_->setValue(value);
    }
    driver_.ChangeField(registry_.senseState, &SenceState::PressThreshold, int32_t{value});
    UpdateLabels(false);
    level_->update();
}

void Kelvarin_Basic::EnableToggled() {
    driver_.ChangeField(registry_.outputState, &OutputState::Enable, enable_->isChecked());
}

void Kelvarin_Basic::RunCalibration() {
    // The dialog follows the driver's capture; without a driver or a board it would only
    // show an empty screen.
    if (!BoardReady(&registry_.calibState)) {
        calibrated_ = false;
        return;
    }
    calibrated_ = runCalibration_ && runCalibration_();
}

void Kelvarin_Basic::SetOtherBusy(bool busy) {
    otherBusy_ = busy;
    UpdateEnabled();
}

void Kelvarin_Basic::StartAdaption() {
    if (AdaptionRunning() || otherBusy_ || !BoardReady()) {
        return;
    }
    manualBeforeAdaption_ = senseGroup_->isVisible();
    SetManualVisible(false);
    manualButton_->setEnabled(false);
    progress_->Begin(tr("Note: Do not touch the Touch Panel"));
    adaption_->Start(registry_.senseState.CoarseRange, registry_.senseState.PressThreshold);
    UpdateEnabled();
    emit BusyChanged(true);
}

void Kelvarin_Basic::CancelAdaption() {
    adaption_->Cancel();  // its end stops the step timer
}

void Kelvarin_Basic::AdaptionFinished(AutoAdaption::Result result) {
    progress_->Finish();
    adaptionTimer_->stop();
    emit BusyChanged(false);
    if (result == AutoAdaption::Result::Cancelled) {
        SetManualVisible(manualBeforeAdaption_);
        UpdateEnabled();
        UpdateLabels(true);
        return;
    }
    const bool success = result == AutoAdaption::Result::Success;
    QString text =
        success ? tr("Successfully adaption!")
                : tr("Auto adaption failure! Electromagnetic interference is out of Auto "
                     "adaption Range \n Please manually adjust the Sensitivity and Threshold");
    // A driver or board lost during the run is what went wrong, not the interference.
    if (!success && driver_.BoardLink() != DriverView::Link::Board) {
        text = tr("Auto adaption stopped: %1").arg(LinkText());
    }
    auto* box = new QMessageBox(success ? QMessageBox::Information : QMessageBox::Warning,
                                window()->windowTitle(), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("AdaptionResult"));
    box->setAccessibleName(text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    if (!success) {
        SetManualVisible(true);
    }
    UpdateEnabled();
    UpdateLabels(true);
}

}  // namespace kv::controller
