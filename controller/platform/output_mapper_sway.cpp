// sway: both devices tied to the output at once with "input <id> map_to_output", which holds
// until sway restarts; the note gives the config lines that keep it.
#include <QCoreApplication>
#include <string>

#include "controller/platform/output_mapping.h"
#include "desktop/input_devices.h"
#include "desktop/sway_ipc.h"

namespace kv::controller {

namespace {

class SwayMapper final : public OutputMapper {
public:
    explicit SwayMapper(QString socketPath) : socketPath_(std::move(socketPath)) {}

    OutputMapping Map(const QString& output) override {
        // "*" spreads a device over all outputs again: sway's placement without a mapping.
        const std::string target = output.isEmpty() ? std::string("*") : output.toStdString();
        if (!output.isEmpty() && !IsOutputName(target)) {
            return {false, false,
                    Tr("sway cannot be told about output %1 by its name: the driver "
                       "keeps the touch foil on it itself.")
                        .arg(output)};
        }
        const SwayMapResult result = MapDevicesInSway(socketPath_.toStdString(), target);
        if (output.isEmpty()) {
            return {};
        }
        if (!result.ok) {
            // Half tied is worse than not at all: the driver keeps its own region now.
            return {false, false,
                    Tr("sway did not take the mapping (%1): the driver keeps the touch foil "
                       "on %2 itself.")
                        .arg(QString::fromStdString(result.error), output)};
        }
        QString lines;
        for (const std::string& command : result.commands) {
            lines += QString::fromStdString(command) + QLatin1Char('\n');
        }
        return {true, true,
                Tr("sway now places the touch foil on %1. To keep this after sway restarts, add "
                   "these lines to ~/.config/sway/config:\n%2")
                    .arg(output, lines.trimmed())};
    }

private:
    static QString Tr(const char* text) {
        return QCoreApplication::translate("OutputMapping", text);
    }

    QString socketPath_;
};

}  // namespace

std::unique_ptr<OutputMapper> MakeSwayMapper(const QString& socketPath) {
    return std::make_unique<SwayMapper>(socketPath);
}

}  // namespace kv::controller
