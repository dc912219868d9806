// The "Advanced" page's monitor choice: the screens it offers, the region the driver maps to,
// and the touchscreen's output on a compositor that maps devices.
#include "controller/widgets/advanced_page.h"

#include <optional>

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

#include "controller/models/profile_file.h"
#include "controller/platform/output_mapping.h"
#include "controller/widgets/main_dialog.h"

namespace kv::controller {

void Kelvarin_Advanced::WatchScreens() {
    // Every screen's own changes, including those of screens added later.
    const auto watch = [this](QScreen* screen) {
        connect(screen, &QScreen::geometryChanged, this, &Kelvarin_Advanced::LayoutChanged);
        connect(screen, &QScreen::virtualGeometryChanged, this, &Kelvarin_Advanced::LayoutChanged);
    };
    for (QScreen* screen : QGuiApplication::screens()) {
        watch(screen);
    }
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, watch](QScreen* screen) {
        watch(screen);
        LayoutChanged();
    });
    // Qt tells before the screen leaves the list: look again once it has.
    connect(qGuiApp, &QGuiApplication::screenRemoved, this,
            [this] { QTimer::singleShot(0, this, &Kelvarin_Advanced::LayoutChanged); });
}

void Kelvarin_Advanced::FillMonitors(const DesktopLayout& layout, bool chosenMissing) {
    const QSignalBlocker block(monitor_);
    monitor_->clear();
    monitor_->addItem(tr("Whole desktop"), QString());
    for (const MonitorInfo& monitor : layout.monitors) {
        monitor_->addItem(MonitorLabel(monitor), monitor.name);
    }
    if (chosenMissing) {
        // The choice stays the user's until they choose otherwise.
        monitor_->addItem(tr("%1 (not connected)").arg(chosenMonitor_), chosenMonitor_);
        monitor_->setCurrentIndex(monitor_->count() - 1);
        return;
    }
    const std::optional<qsizetype> found = FindMonitor(layout.monitors, chosenMonitor_);
    monitor_->setCurrentIndex(found ? static_cast<int>(*found) + 1 : 0);
}

bool Kelvarin_Advanced::SendMonitorRegion(const DesktopLayout& layout, bool wholeDesktopToo) {
    const std::optional<MonitorRegion> chosen =
        RegionForChoice(layout.monitors, layout.desktop, chosenMonitor_);
    const bool connected = chosen.has_value();
    if (chosenMonitor_.isEmpty() && !wholeDesktopToo) {
        return connected;
    }
    MapOutput(connected ? chosenMonitor_ : QString());
    // A compositor that places the touch mode's device on the monitor gets its whole range.
    const std::optional<TouchMode> mode = TouchModeOf(registry_.outputState.Selection);
    const bool tied = connected && mode.has_value() && TiedFor(mapping_, *mode);
    const MonitorRegion wanted = connected && !tied ? *chosen : MonitorRegion{};
    CalibrationState& calib = registry_.calibState;
    driver_.Change(calib, [&calib, wanted] { return ApplyRegion(wanted, calib); });
    return connected;
}

void Kelvarin_Advanced::MapOutput(const QString& output) {
    if (context_.outputMapper == nullptr || mappedOutput_ == output) {
        return;
    }
    mappedOutput_ = output;
    mapping_ = context_.outputMapper->Map(output);
    mappingNote_->setText(mapping_.note);
    mappingNote_->setAccessibleName(mapping_.note);
    mappingNote_->setVisible(!mapping_.note.isEmpty());
}

void Kelvarin_Advanced::MonitorChosen(int index) {
    chosenMonitor_ = monitor_->itemData(index).toString();
    if (context_.profile != nullptr) {
        context_.profile->WriteString("GENERAL", kMonitorKey, chosenMonitor_.toStdString());
    }
    LayoutChanged();
    if (chosenMonitor_.isEmpty()) {
        SendMonitorRegion(CurrentDesktopLayout(context_), true);
    }
}

void Kelvarin_Advanced::LayoutChanged() {
    const DesktopLayout layout = CurrentDesktopLayout(context_);
    // The whole desktop needs nothing sent: its region is the whole desktop whatever the
    // layout, and a region edited in the calibration dialog stays as it is.
    const bool missing = !SendMonitorRegion(layout, false);
    if (missing != monitorMissing_ || missing) {
        ShowNotice(missing ? tr("Monitor %1 is not connected: the touch foil drives the whole "
                                "desktop until it is back.")
                                 .arg(chosenMonitor_)
                           : QString());
    }
    monitorMissing_ = missing;
    FillMonitors(layout, missing);
}

}  // namespace kv::controller
