// Which monitor the foil lies on: the Advanced page's "Monitor:" choice turned into the touch
// region of the Calib State record. The driver maps onto the whole desktop; a chosen monitor
// is its rectangle as fractions of that desktop, with regional mapping (flag 2), so the foil
// drives that monitor only. QtCore only: the page and the tests give it the screens.
#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <optional>

#include "protocol/records.h"

namespace kv::controller {

// CONTROLLER.INI [GENERAL] key of the chosen monitor's name; empty or absent: whole desktop.
inline constexpr const char* kMonitorKey = "MONITOR";

// One connected monitor: its name and its rectangle in desktop pixels.
struct MonitorInfo {
    QString name;
    QRect geometry;
};

// The desktop as the Controller sees it: its monitors and their bounding rectangle.
struct DesktopLayout {
    QList<MonitorInfo> monitors;
    QRect desktop;
};

// A touch region in fractions of the desktop.
struct RegionFractions {
    float left = 0.0f;
    float top = 0.0f;
    float right = 1.0f;
    float bottom = 1.0f;
};

// The monitor's rectangle as fractions of the desktop's, clamped to 0..1 (a monitor can
// reach past the desktop's bounding rectangle only while the layout is changing).
RegionFractions RegionOf(const QRect& monitor, const QRect& desktop);

// The combo box text of a monitor: "HDMI-1 (1920×1080)".
QString MonitorLabel(const MonitorInfo& monitor);

// The index of the monitor of that name in the list; nothing for an empty name or none found.
std::optional<qsizetype> FindMonitor(const QList<MonitorInfo>& monitors, const QString& name);

// What a choice puts into the Calib State record.
struct MonitorRegion {
    int32_t flag = 1;  // 1 whole desktop, 2 regional mapping onto the monitor
    RegionFractions region;
};

// The record values for the monitor of that name on this layout (whole desktop for an empty
// name), or nothing when no monitor of that name is connected.
std::optional<MonitorRegion> RegionForChoice(const QList<MonitorInfo>& monitors,
                                             const QRect& desktop, const QString& name);

// Writes the values into the record; true when that changed it.
bool ApplyRegion(const MonitorRegion& region, CalibrationState& state);

// The rectangle, in desktop pixels, the calibration dialog covers and puts its targets in:
// the chosen monitor's, or the whole desktop when none is chosen or it is gone.
QRect CalibrationArea(const QList<MonitorInfo>& monitors, const QRect& desktop,
                      const QString& name);

}  // namespace kv::controller
