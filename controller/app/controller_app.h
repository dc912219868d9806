// CConfiguratorApp: the Controller's start-up sequence, from the program folder and the
// single-instance guard through the driver start, the first run and the language to the main
// window.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

#include "transport/network.h"

class QApplication;

namespace kv::controller {

class DriverLauncher;
class DriverView;
class ProfileFile;

// The command line; users start the Controller without one, tests run several side by side.
struct ControllerOptions {
    uint16_t port = kControllerPort;    // --port: the Controller's own UDP port (0: any)
    uint16_t driverPort = kDriverPort;  // --driver-port: the driver's port
    QStringList driverOptions;          // --driver-option: appended to each Driver start
    bool trustLoopback = false;         // --trust-loopback: every local user's programs count
};

struct ParsedControllerOptions {
    bool ok = true;
    bool help = false;     // --help: print the usage and exit
    bool version = false;  // --version: print the version and exit
    ControllerOptions options;
    QString message;  // why parsing failed
};

// Options are "--name=value" or "--name value" (--help and --version take none); the first
// unknown or malformed one fails.
ParsedControllerOptions ParseControllerOptions(const QStringList& arguments);
// The usage for --help; settingsPath is where CONTROLLER.INI is for this run.
QString ControllerUsage(const QString& settingsPath);
// "Controller 10.3.0".
QString ControllerVersion();
// CONTROLLER.INI of a Controller in programFolder: beside it when the folder is writable, else
// in the user's configuration folder.
QString ControllerSettingsPath(const QString& programFolder);
// Exit status for a command line that could not be parsed.
inline constexpr int kControllerExitUsage = 2;

// --help, --version and a wrong command line, answered without a display before the
// application is made. Returns the exit status when the program should end now, -1 when it
// should go on (a command line with Qt's own options is left to the full parse after them).
int AnswerInfoOptions(int argc, const char* const* argv);

// The Driver command line for these options, once the Controller's own port is known.
QStringList DriverArguments(const ControllerOptions& options, uint16_t ownPort);

// What LANG asks of the start-up.
enum class LanguageChoice {
    Chinese,  // 17: load Lang/touch_cn_sim.qm
    English,  // 18, 19: the built-in texts
    Unknown,  // anything else: say the language file is not found, then English
};
LanguageChoice LanguageChoiceOf(int lang);

// The language file LANG 17 loads, relative to the program folder.
inline constexpr const char* kChineseLanguageFile = "/Lang/touch_cn_sim.qm";
// The pause between stopping the old driver and the wait for it to end on a first run.
inline constexpr int kFirstRunStopPauseMs = 500;
// How long the first run waits for the driver's records, before it sends the chosen model and
// after the driver's restart.
inline constexpr int kFirstRunDriverWaitMs = 10000;

class CConfiguratorApp {
public:
    explicit CConfiguratorApp(ControllerOptions options);
    // Runs the start-up sequence and the main window; the process's exit status.
    int Run(QApplication& app);

private:
    void FirstRun(DriverView& driver, ProfileFile& profile, DriverLauncher& launcher,
                  const QString& driverLock);
    // Sends the model, has the driver save it and restarts the driver; empty when the new
    // driver reports the model's layout, else what went wrong.
    QString GiveModelToDriver(DriverView& driver, DriverLauncher& launcher,
                              const QString& driverLock, int32_t modelCode);
    void LoadLanguage(QApplication& app, int lang);

    ControllerOptions options_;
    QString programFolder_;
};

}  // namespace kv::controller
