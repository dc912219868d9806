// KDE Plasma, GNOME and weston: each places a touchscreen on the output its own setting names
// (and spreads an absolute pointer over the whole desktop, where the driver's region holds).
// The Controller cannot change those settings while they run, so it shows the one to make;
// for native two-finger touch the driver then leaves the touchscreen's range to the compositor.
#include <QCoreApplication>
#include <string>

#include "controller/platform/output_mapping.h"
#include "desktop/input_devices.h"

namespace kv::controller {

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("OutputMapping", text);
}

// The setting's text that kvctl map-output prints for this compositor.
QString SettingText(Compositor kind, const QString& output) {
    for (const CompositorSetting& setting : OutputMappingSettings(output.toStdString())) {
        if (setting.kind == kind) {
            return QString::fromStdString(setting.text).trimmed();
        }
    }
    return {};
}

class PrintedMapper final : public OutputMapper {
public:
    explicit PrintedMapper(QString (*note)(const QString& output)) : note_(note) {}

    OutputMapping Map(const QString& output) override {
        if (output.isEmpty()) {
            return {};
        }
        if (!IsOutputName(output.toStdString())) {
            return {false, false,
                    Tr("For native two-finger touch the compositor places the touchscreen on an "
                       "output by its name, and %1 is none it can take.")
                        .arg(output)};
        }
        return {false, true, note_(output)};
    }

private:
    QString (*note_)(const QString& output);
};

QString KdeNote(const QString& output) {
    return Tr("For native two-finger touch, KDE places the touchscreen on the screen chosen in "
              "System Settings, Touchscreen, or in ~/.config/kcminputrc:\n%1\n"
              "(it applies when the touchscreen next appears).")
        .arg(SettingText(Compositor::Kde, output));
}

QString WestonNote(const QString& output) {
    return Tr("For native two-finger touch, weston places the touchscreen on the output udev "
              "names; as root, put this line in /etc/udev/rules.d/71-kelvarin-output.rules:\n%1")
        .arg(SettingText(Compositor::Weston, output));
}

QString GnomeNote(const QString& output) {
    return Tr("For native two-finger touch, GNOME places the touchscreen on the monitor its "
              "setting names by the vendor, product and serial that gnome-monitor-config list "
              "shows for %1:\ngsettings set org.gnome.desktop.peripherals.touchscreen:/org/gnome/"
              "desktop/peripherals/touchscreens/dddd:0001/ output \"['VENDOR', 'PRODUCT', "
              "'SERIAL']\"")
        .arg(output);
}

}  // namespace

std::unique_ptr<OutputMapper> MakeKdeMapper() {
    return std::make_unique<PrintedMapper>(KdeNote);
}
std::unique_ptr<OutputMapper> MakeGnomeMapper() {
    return std::make_unique<PrintedMapper>(GnomeNote);
}
std::unique_ptr<OutputMapper> MakeWestonMapper() {
    return std::make_unique<PrintedMapper>(WestonNote);
}

}  // namespace kv::controller
