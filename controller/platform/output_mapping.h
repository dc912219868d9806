// Tying the driver's devices to the chosen monitor where a Wayland compositor places them.
// Under X11, and under compositors that spread an absolute device over all outputs, the
// driver's regional mapping keeps the foil on its monitor. Where the compositor ties a device
// to one output itself, the driver must leave that device's whole range to it, or the touches
// would be shrunk twice. One backend per compositor that can be told.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <memory>

#include "protocol/touch_modes.h"

namespace kv::controller {

// What the compositor does with the devices after a Map().
struct OutputMapping {
    bool pointerTied = false;      // it places the absolute pointer on the output
    bool touchscreenTied = false;  // it places the touchscreen on the output
    // What the user is told under the monitor choice: what was done, and what to keep or do
    // by hand; empty: nothing to say.
    QString note;
};

// Whether the compositor places the device that this touch mode drives (TUIO drives none:
// its cursors are fractions of the desktop, where the driver's region holds).
bool TiedFor(const OutputMapping& mapping, TouchMode mode);

class OutputMapper {
public:
    virtual ~OutputMapper() = default;
    // Ties the devices to the output of that connector name, or lets them go back to the
    // compositor's own placement for an empty name.
    virtual OutputMapping Map(const QString& output) = 0;
};

// sway, told at once through its IPC socket (SWAYSOCK).
std::unique_ptr<OutputMapper> MakeSwayMapper(const QString& socketPath);
// KDE Plasma, GNOME and weston place a touchscreen on the output their own setting names;
// the Controller shows that setting.
std::unique_ptr<OutputMapper> MakeKdeMapper();
std::unique_ptr<OutputMapper> MakeGnomeMapper();
std::unique_ptr<OutputMapper> MakeWestonMapper();

// The backend for the session the Controller runs in; none under X11 or a compositor that
// spreads the devices over all outputs.
std::unique_ptr<OutputMapper> MakeOutputMapper(const QProcessEnvironment& environment);

}  // namespace kv::controller
