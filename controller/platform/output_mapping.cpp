// The session's compositor, from the environment it gives its programs.
#include "controller/platform/output_mapping.h"

#include <QStringList>

namespace kv::controller {

bool TiedFor(const OutputMapping& mapping, TouchMode mode) {
    if (DrivesPointer(mode)) {
        return mapping.pointerTied;
    }
    return mode == TouchMode::TwoFingerNative && mapping.touchscreenTied;
}

std::unique_ptr<OutputMapper> MakeOutputMapper(const QProcessEnvironment& environment) {
    if (environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty()) {
        return nullptr;
    }
    const QString sway = environment.value(QStringLiteral("SWAYSOCK"));
    if (!sway.isEmpty()) {
        return MakeSwayMapper(sway);
    }
    // XDG_CURRENT_DESKTOP is a colon-separated list, e.g. "ubuntu:GNOME".
    const QStringList desktops = environment.value(QStringLiteral("XDG_CURRENT_DESKTOP"))
                                     .toLower()
                                     .split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (desktops.contains(QStringLiteral("kde"))) {
        return MakeKdeMapper();
    }
    if (desktops.contains(QStringLiteral("gnome"))) {
        return MakeGnomeMapper();
    }
    if (desktops.contains(QStringLiteral("weston"))) {
        return MakeWestonMapper();
    }
    return nullptr;
}

}  // namespace kv::controller
