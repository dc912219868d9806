// The full-screen calibration dialog.
#include "controller/widgets/calibrate_dialog.h"

#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <algorithm>

#include "controller/models/monitor_choice.h"
#include "controller/models/profile_file.h"
#include "controller/widgets/advanced_page.h"
#include "controller/widgets/main_dialog.h"

namespace kv::controller {

namespace {

// The layout is designed for 1280 x 720 and scaled to the screen.
constexpr double kDesignWidth = 1280.0;
constexpr double kDesignHeight = 720.0;

const QColor kRed(200, 0, 0);
const QColor kGreen(0, 200, 0);
const QColor kBlue(0, 0, 200);
const QColor kBlack(0, 0, 0);

QRect PrimaryScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry() : QRect(0, 0, 1280, 720);
}

void SetText(QWidget* widget, const QString& text) {
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        if (button->text() == text) {
            return;
        }
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->text() == text) {
            return;
        }
        label->setText(text);
    }
    widget->setAccessibleName(text);
}

// One ring of a target: red at its diameter, green outside and black inside by its width.
void DrawRing(QPainter& painter, QPointF centre, double diameter, double width) {
    const std::array<std::pair<QColor, double>, 3> circles = {
        {{kRed, diameter}, {kGreen, diameter + width}, {kBlack, diameter - width}}};
    for (const auto& [colour, d] : circles) {
        painter.setPen(QPen(colour, 2));
        painter.drawEllipse(centre, d / 2.0, d / 2.0);
    }
}

}  // namespace

CalibrateDlg::CalibrateDlg(Registry& registry, QWidget* parent)
    : CalibrateDlg(registry, PrimaryScreen(), PrimaryScreen(), parent) {}

CalibrateDlg::CalibrateDlg(Registry& registry, const QRect& desktop, const QRect& area,
                           QWidget* parent)
    : QDialog(parent), steps_(registry, desktop.width(), desktop.height()), screen_(desktop) {
    setObjectName(QStringLiteral("CalibrateDlg"));
    setWindowTitle(tr("Calibration"));
    setAccessibleName(windowTitle());
    setAutoFillBackground(false);

    advancedButton_ = new QPushButton(this);
    advancedButton_->setObjectName(QStringLiteral("1029"));
    cancelButton_ = new QPushButton(this);
    cancelButton_->setObjectName(QStringLiteral("1028"));
    // Return must not cancel a calibration in progress.
    advancedButton_->setAutoDefault(false);
    cancelButton_->setAutoDefault(false);
    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("1065"));
    caption_ = new QLabel(this);
    caption_->setObjectName(QStringLiteral("1066"));

    panel_ = new QFrame(this);
    panel_->setObjectName(QStringLiteral("1030"));
    panel_->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(panel_);
    const std::array<std::pair<const char*, QString>, 4> sliders = {{
        {"1006", tr("Left")},
        {"1026", tr("Bottom")},
        {"1027", tr("Right")},
        {"1010", tr("Top")},
    }};
    for (size_t i = 0; i < sliders.size(); ++i) {
        auto* label = new QLabel(sliders[i].second, panel_);
        label->setAccessibleName(sliders[i].second);
        auto* slider = new QSlider(Qt::Horizontal, panel_);
        slider->setObjectName(QString::fromLatin1(sliders[i].first));
        slider->setAccessibleName(sliders[i].second);
        slider->setRange(0, 100);
        label->setBuddy(slider);
        // Shown in reading order: left, top, right, bottom.
        const int row = std::array<int, 4>{0, 3, 2, 1}[i];
        grid->addWidget(label, row, 0);
        grid->addWidget(slider, row, 1);
        sliders_[i] = slider;
        connect(slider, &QSlider::valueChanged, this, &CalibrateDlg::SliderMoved);
    }

    connect(advancedButton_, &QPushButton::clicked, this, &CalibrateDlg::AdvancedClicked);
    connect(cancelButton_, &QPushButton::clicked, this, &CalibrateDlg::CancelClicked);

    // Full screen on a monitor of its own; over several, a frameless window across them.
    setGeometry(area);
    const QScreen* on = QGuiApplication::screenAt(area.center());
    if (on != nullptr && on->geometry() == area) {
        setWindowState(Qt::WindowFullScreen);
    } else {
        setWindowFlag(Qt::FramelessWindowHint);
    }
    SyncControls();
    LayOut();

    timer_ = new QTimer(this);
    timer_->setInterval(kCalibrationTickMs);
    connect(timer_, &QTimer::timeout, this, &CalibrateDlg::Tick);
    timer_->start();
}

CalibrateDlg::~CalibrateDlg() = default;

void CalibrateDlg::Tick() {
    if (!steps_.Tick()) {
        Finish();
        return;
    }
    SyncControls();
    update();
}

void CalibrateDlg::Finish() {
    timer_->stop();
    done(steps_.Completed() ? QDialog::Accepted : QDialog::Rejected);
}

void CalibrateDlg::AdvancedClicked() {
    steps_.PressAdvanced();
    SyncControls();
    update();
}

void CalibrateDlg::CancelClicked() {
    steps_.PressCancel();
    SyncControls();
    if (!steps_.Running()) {
        Finish();
        return;
    }
    update();
}

void CalibrateDlg::reject() {
    if (!steps_.Running()) {
        QDialog::reject();
        return;
    }
    if (steps_.PanelOpen()) {
        steps_.PressCancel();  // closes the panel, keeping the region as edited
    }
    CancelClicked();
}

void CalibrateDlg::SliderMoved() {
    steps_.SetRegion(
        {sliders_[0]->value(), sliders_[3]->value(), sliders_[2]->value(), sliders_[1]->value()});
}

void CalibrateDlg::SyncControls() {
    const bool panelOpen = steps_.PanelOpen();
    SetText(advancedButton_, panelOpen ? tr("Mode Switch") : tr("Advanced..."));
    SetText(cancelButton_, panelOpen ? tr("Save") : tr("Cancel"));
    advancedButton_->setEnabled(steps_.AdvancedEnabled());
    panel_->setVisible(panelOpen);

    // The sliders show the region as the machine has made it consistent.
    const RegionPercent& region = steps_.Region();
    const std::array<int, 4> values = {region.left, region.bottom, region.right, region.top};
    for (size_t i = 0; i < sliders_.size(); ++i) {
        if (sliders_[i]->value() != values[i]) {
            const QSignalBlocker blocker(sliders_[i]);
            sliders_[i]->setValue(values[i]);
        }
    }

    switch (steps_.RegionMode()) {
        case 0:
            SetText(caption_, tr("MODE: Regional Touch(Full Screen)"));
            break;
        case 1:
            SetText(caption_, tr("MODE: Small Vyren drive Big Screen"));
            break;
        case 2:
            SetText(caption_, tr("MODE: Regional Touch (Small Vyren)"));
            break;
        default:
            SetText(caption_, QString());
            break;
    }

    const bool hintShown = steps_.HintShown() && !panelOpen;
    SetText(hint_, hintShown ? tr("Press and Hold here") : QString());
    if (hintShown && steps_.Target().corner != Corner::None) {
        // Beside the target, on the side facing the middle of the screen.
        const QPointF centre = TargetInWindow();
        const int width = hint_->width();
        const int x = steps_.Target().corner == Corner::TopRight
                          ? static_cast<int>(centre.x()) - kTargetCrossHalf - width
                          : static_cast<int>(centre.x()) + kTargetCrossHalf;
        hint_->move(x, static_cast<int>(centre.y()) - hint_->height() / 2);
    }
}

void CalibrateDlg::LayOut() {
    const double sx = width() / kDesignWidth;
    const double sy = height() / kDesignHeight;
    const auto scaled = [sx, sy](int x, int y, int w, int h) {
        return QRect(static_cast<int>(x * sx), static_cast<int>(y * sy), static_cast<int>(w * sx),
                     static_cast<int>(h * sy));
    };
    caption_->setGeometry(static_cast<int>(width() / 2 - 50 * sx),
                          static_cast<int>(height() / 2 - 80 * sy), static_cast<int>(400 * sx), 30);
    // Scaled down on small screens, but never below what the texts need.
    const auto place = [](QWidget* widget, QRect rect) {
        const QSize need = widget->sizeHint();
        rect.setWidth(std::max(rect.width(), need.width()));
        rect.setHeight(std::max(rect.height(), need.height()));
        widget->setGeometry(rect);
    };
    place(advancedButton_, scaled(535, 330, 100, 30));
    const QRect advanced = advancedButton_->geometry();
    place(cancelButton_, scaled(645, 330, 100, 30));
    cancelButton_->move(std::max(cancelButton_->x(), advanced.right() + 10), advanced.y());
    place(panel_, scaled(440, 380, 400, 200));
    hint_->resize(static_cast<int>(250 * sx), 30);
}

void CalibrateDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOut();
    SyncControls();
}

QPointF CalibrateDlg::TargetInWindow() const {
    const TargetView& target = steps_.Target();
    // The machine works in the driver's screen pixels; the window may sit elsewhere when the
    // desktop does not grant full screen.
    const QPoint global =
        screen_.topLeft() + QPoint(static_cast<int>(target.x), static_cast<int>(target.y));
    return QPointF(mapFromGlobal(global));
}

void CalibrateDlg::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::white);

    if (steps_.PanelOpen()) {
        const PixelRect r = steps_.RegionPixels();
        const QPointF topLeft = mapFromGlobal(screen_.topLeft()).toPointF();
        painter.setPen(QPen(kBlue, 2));
        painter.drawRect(
            QRectF(topLeft + QPointF(r.left, r.top), topLeft + QPointF(r.right, r.bottom)));
    }

    const TargetView& target = steps_.Target();
    if (target.corner == Corner::None) {
        return;
    }
    const QPointF centre = TargetInWindow();
    DrawRing(painter, centre, kTargetOuterDiameter, kTargetOuterWidth);
    DrawRing(painter, centre, kTargetMiddleDiameter, kTargetMiddleWidth);
    // The inner ring grows with the samples the driver has taken at this corner.
    const double inner = kTargetInnerDiameter + kTargetInnerGrowth * target.progress;
    DrawRing(painter, centre, inner, inner);
    painter.setPen(QPen(kBlack, 1));
    painter.drawLine(centre + QPointF(-kTargetCrossHalf, 0), centre + QPointF(kTargetCrossHalf, 0));
    painter.drawLine(centre + QPointF(0, -kTargetCrossHalf), centre + QPointF(0, kTargetCrossHalf));
}

int RunCalibration(DialogContext& context, QWidget* parent) {
    const DesktopLayout layout = CurrentDesktopLayout(context);
    const QString monitor =
        context.profile != nullptr
            ? QString::fromStdString(context.profile->ReadString("GENERAL", kMonitorKey, ""))
            : QString();
    CalibrateDlg dialog(context.registry, layout.desktop,
                        CalibrationArea(layout.monitors, layout.desktop, monitor), parent);
    return dialog.exec();
}

}  // namespace kv::controller
