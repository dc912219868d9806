// The monitor choice as touch region values.
#include "controller/models/monitor_choice.h"

#include <algorithm>

namespace kv::controller {

namespace {

float Fraction(int offset, int extent) {
    if (extent <= 0) {
        return 0.0f;
    }
    return std::clamp(static_cast<float>(offset) / static_cast<float>(extent), 0.0f, 1.0f);
}

}  // namespace

RegionFractions RegionOf(const QRect& monitor, const QRect& desktop) {
    // Edges, not QRect::right(): a monitor of 1280 pixels from x 1280 ends at 2560.
    const int monitorRight = monitor.x() + monitor.width();
    const int monitorBottom = monitor.y() + monitor.height();
    return {Fraction(monitor.x() - desktop.x(), desktop.width()),
            Fraction(monitor.y() - desktop.y(), desktop.height()),
            Fraction(monitorRight - desktop.x(), desktop.width()),
            Fraction(monitorBottom - desktop.y(), desktop.height())};
}

QString MonitorLabel(const MonitorInfo& monitor) {
    return QStringLiteral("%1 (%2\u00d7%3)")
        .arg(monitor.name)
        .arg(monitor.geometry.width())
        .arg(monitor.geometry.height());
}

std::optional<qsizetype> FindMonitor(const QList<MonitorInfo>& monitors, const QString& name) {
    if (name.isEmpty()) {
        return std::nullopt;
    }
    for (qsizetype i = 0; i < monitors.size(); ++i) {
        if (monitors[i].name == name) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<MonitorRegion> RegionForChoice(const QList<MonitorInfo>& monitors,
                                             const QRect& desktop, const QString& name) {
    if (name.isEmpty()) {
        // The whole desktop: no regional mapping, and a region that covers it all, since
        // the calibration dialog puts its targets in the region.
        return MonitorRegion{};
    }
    const std::optional<qsizetype> found = FindMonitor(monitors, name);
    if (!found) {
        return std::nullopt;
    }
    return MonitorRegion{2, RegionOf(monitors[*found].geometry, desktop)};
}

bool ApplyRegion(const MonitorRegion& region, CalibrationState& state) {
    const bool changed = state.exclude_edge_flag != region.flag ||
                         state.exclude_edge_left != region.region.left ||
                         state.exclude_edge_top != region.region.top ||
                         state.exclude_edge_right != region.region.right ||
                         state.exclude_edge_bottom != region.region.bottom;
    state.exclude_edge_flag = region.flag;
    state.exclude_edge_left = region.region.left;
    state.exclude_edge_top = region.region.top;
    state.exclude_edge_right = region.region.right;
    state.exclude_edge_bottom = region.region.bottom;
    return changed;
}

QRect CalibrationArea(const QList<MonitorInfo>& monitors, const QRect& desktop,
                      const QString& name) {
    if (const std::optional<qsizetype> found = FindMonitor(monitors, name)) {
        return monitors[*found].geometry;
    }
    return desktop;
}

}  // namespace kv::controller
