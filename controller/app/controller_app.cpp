// The Controller's start-up sequence.
#include "controller/app/controller_app.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "common/file_locations.h"
#include "controller/app/first_run.h"
#include "controller/models/profile_file.h"
#include "controller/models/sensor_models.h"
#include "controller/platform/driver_launcher.h"
#include "controller/platform/output_mapping.h"
#include "controller/platform/single_instance.h"
#include "controller/widgets/initial_dialog.h"
#include "controller/widgets/main_dialog.h"

namespace kv::controller {

namespace {

constexpr int kLangChinese = 17;
constexpr int kLangEnglish = 19;
constexpr int kConnectPollMs = 20;
constexpr qint64 kHelloEveryMs = 1000;

bool ParsePort(const QString& text, bool allowZero, uint16_t& port) {
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > 65535 || (value == 0 && !allowZero)) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

// Keeps the window's events flowing for ms milliseconds.
void PauseWithEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Keeps events flowing until done() or timeoutMs have passed, asking the driver for its
// records every second meanwhile: before the main window there is no presence record to make
// a driver that has just started talk. True when done() came true.
template <class Done>
bool AwaitDriver(const DriverView& driver, Done done, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 asked = -kHelloEveryMs;
    while (!done() && elapsed.elapsed() < timeoutMs) {
        if (elapsed.elapsed() - asked >= kHelloEveryMs) {
            asked = elapsed.elapsed();
            driver.SayHello();
        }
        PauseWithEvents(kConnectPollMs);
    }
    return done();
}

}  // namespace

ParsedControllerOptions ParseControllerOptions(const QStringList& arguments) {
    ParsedControllerOptions parsed;
    auto fail = [&parsed](const QString& message) {
        parsed.ok = false;
        parsed.message = message;
        return parsed;
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        if (name == QLatin1String("--help")) {
            parsed.help = true;
            continue;
        }
        if (name == QLatin1String("--version")) {
            parsed.version = true;
            continue;
        }
        if (name == QLatin1String("--trust-loopback")) {
            parsed.options.trustLoopback = true;
            continue;
        }
        QString value;
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        if (equals >= 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        if (name != QLatin1String("--port") && name != QLatin1String("--driver-port") &&
            name != QLatin1String("--driver-option")) {
            return fail(QStringLiteral("unknown option: %1").arg(arguments[i]));
        }
        if (equals < 0) {
            if (i + 1 >= arguments.size()) {
                return fail(QStringLiteral("%1 needs a value").arg(name));
            }
            value = arguments[++i];
        }
        if (name == QLatin1String("--port")) {
            if (!ParsePort(value, true, parsed.options.port)) {
                return fail(QStringLiteral("--port: not a port: %1").arg(value));
            }
        } else if (name == QLatin1String("--driver-port")) {
            if (!ParsePort(value, false, parsed.options.driverPort)) {
                return fail(QStringLiteral("--driver-port: not a port: %1").arg(value));
            }
        } else if (name == QLatin1String("--driver-option")) {
            parsed.options.driverOptions.append(value);
        } else {
            return fail(QStringLiteral("unknown option: %1").arg(arguments[i]));
        }
    }
    return parsed;
}

QString ControllerUsage(const QString& settingsPath) {
    return QStringLiteral(
               "Usage: Controller [options]\n"
               "Sets up the touch foil: sensitivity, calibration, touch mode; starts the "
               "Driver.\n"
               "\n"
               "Options:\n"
               "  --port=N             the Controller's UDP port (default 11243, 0: any free "
               "port)\n"
               "  --driver-port=N      the driver's UDP port (default 11249)\n"
               "  --driver-option=ARG  appended to every Driver command line (repeatable)\n"
               "  --trust-loopback     talk to the programs of every local user, not only your "
               "own\n"
               "                       and root's (passed on to the Driver it starts)\n"
               "  --help               show this help and exit\n"
               "  --version            print the version and exit\n"
               "\n"
               "Files:\n"
               "  %1\n"
               "  For this run: %2\n")
        .arg(QString::fromStdString(SettingsRuleText("CONTROLLER.INI", "  ")), settingsPath);
}

QString ControllerVersion() {
    return QStringLiteral("Controller " KV_VERSION);
}

QString ControllerSettingsPath(const QString& programFolder) {
    return QString::fromStdString(SettingsFolder(programFolder.toStdString())) +
           QStringLiteral("/CONTROLLER.INI");
}

int AnswerInfoOptions(int argc, const char* const* argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.append(QString::fromLocal8Bit(argv[i]));
    }
    const ParsedControllerOptions parsed = ParseControllerOptions(arguments);
    if (!parsed.ok) {
        // Qt's own options (-platform offscreen, -style ...) begin with a single '-'; without
        // them the command line is wrong as it stands.
        const bool qtOptions =
            std::any_of(arguments.begin(), arguments.end(), [](const QString& a) {
                return a.startsWith(QLatin1Char('-')) && !a.startsWith(QLatin1String("--"));
            });
        if (qtOptions) {
            return -1;
        }
        std::fprintf(stderr, "Controller: %s\nTry 'Controller --help'.\n",
                     qPrintable(parsed.message));
        return kControllerExitUsage;
    }
    if (parsed.help) {
        const QString folder = QString::fromStdString(ExecutableFolder());
        std::fputs(qPrintable(ControllerUsage(ControllerSettingsPath(folder))), stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("%s\n", qPrintable(ControllerVersion()));
        return 0;
    }
    return -1;
}

QStringList DriverArguments(const ControllerOptions& options, uint16_t ownPort) {
    QStringList arguments{QStringLiteral("--port=%1").arg(options.driverPort),
                          QStringLiteral("--peer-port=%1").arg(ownPort)};
    if (options.trustLoopback) {
        arguments += QStringLiteral("--trust-loopback");
    }
    arguments += options.driverOptions;
    return arguments;
}

LanguageChoice LanguageChoiceOf(int lang) {
    if (lang == kLangChinese) {
        return LanguageChoice::Chinese;
    }
    if (lang == 18 || lang == kLangEnglish) {
        return LanguageChoice::English;
    }
    return LanguageChoice::Unknown;
}

CConfiguratorApp::CConfiguratorApp(ControllerOptions options) : options_(std::move(options)) {}

int CConfiguratorApp::Run(QApplication& app) {
    // The program folder, from /proc/self/exe: Driver and Lang/ are there, and CONTROLLER.INI
    // when the folder is writable.
    programFolder_ = QCoreApplication::applicationDirPath();

    QString lockError;
    const QString lockFolder = LockFolder(&lockError);
    if (lockFolder.isEmpty()) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Kelvarin Vyren"), lockError);
        box.exec();
        return 1;
    }
    SingleInstance instance(lockFolder + QLatin1Char('/') + QLatin1String(kControllerLockName));
    if (!instance.Acquire()) {
        instance.AskRunningToActivate();
        return 0;
    }

    Registry registry(ProgramRole::Controller);
    NetworkConfig config{ProgramRole::Controller, options_.port, options_.driverPort};
    config.trustLoopback = options_.trustLoopback;
    Network network(registry, config);
    if (!network.Error().empty() && !network.Ok()) {
        // The start-up message, with the reason (a port held by another program, say).
        QMessageBox box(
            QMessageBox::Critical, QString(),
            QCoreApplication::translate("CConfiguratorApp", "Socket initialization failure."));
        box.setInformativeText(QString::fromStdString(network.Error()));
        box.exec();
        return 1;
    }
    if (!network.CanTellSenders()) {
        std::fprintf(stderr, "%s\n", NoOwnerLookupMessage("Controller").c_str());
    }
    network.SetReady();
    DriverView driver(registry);
    driver.SetHello([&network] { network.SendHello(); });
    // Another user's driver on our driver's port is named, never configured.
    driver.SetPortHolder(options_.driverPort, [&network]() -> std::optional<uint32_t> {
        const auto uid = network.PeerPortOwner();
        return uid && !network.Accepts(*uid) ? uid : std::nullopt;
    });

    const QString driverLock = lockFolder + QLatin1Char('/') + QLatin1String(kDriverLockName);
    DriverLauncher launcher(programFolder_ + QStringLiteral("/Driver"),
                            DriverArguments(options_, network.LocalPort()), driverLock);
    launcher.Start();

    const QString profilePath = ControllerSettingsPath(programFolder_);
    ProfileFile profile(profilePath.toStdString());
    if (!profile.Exists()) {
        // The user's configuration folder is made when the first file goes into it.
        MakeSettingsFolder(QFileInfo(profilePath).absolutePath().toStdString(), nullptr);
        profile.CreateWithDefaults();
    }
    if (profile.ReadInt("GENERAL", "FIRST", 1) == 1) {
        FirstRun(driver, profile, launcher, driverLock);
    }

    const int lang = profile.ReadInt("GENERAL", "LANG", kLangEnglish);
    LoadLanguage(app, lang);

    DialogContext context(registry);
    context.profile = &profile;
    context.language = lang;
    context.status = profile.ReadInt("BOOT", "STATUS", 1);
    // Read for the pages that use them.
    profile.ReadInt("GENERAL", "INDEX", 0);
    profile.ReadInt("BOOT", "DRIVER", 0);
    profile.ReadInt("BOOT", "CONTROLLER", 0);
    profile.ReadInt("BOOT", "CUSTOM", 0);
    context.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    context.driver = &driver;
    context.sayHello = [&network] { network.SendHello(); };
    context.launcher = &launcher;
    const std::unique_ptr<OutputMapper> outputMapper =
        MakeOutputMapper(QProcessEnvironment::systemEnvironment());
    context.outputMapper = outputMapper.get();

    CConfiguratorDlg dialog(context);
    QObject::connect(&dialog, &CConfiguratorDlg::QuitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QObject::connect(&instance, &SingleInstance::ActivationRequested, &dialog,
                     &CConfiguratorDlg::BringToFront);
    app.setQuitOnLastWindowClosed(false);
    dialog.ShowAtStart();
    const int status = app.exec();
    network.Stop();
    return status;
}

void CConfiguratorApp::FirstRun(DriverView& driver, ProfileFile& profile, DriverLauncher& launcher,
                                const QString& driverLock) {
    initialDlg dialog;
    if (dialog.exec() != QDialog::Accepted) {
        return;  // asked again at the next start
    }
    // The language is the Controller's own and holds at once.
    profile.WriteInt("GENERAL", "LANG", dialog.Language());
    const QString problem = GiveModelToDriver(driver, launcher, driverLock, dialog.ModelCode());
    if (problem.isEmpty()) {
        profile.WriteInt("GENERAL", "FIRST", 0);
        return;
    }
    // Said, and asked again at the next start, rather than a foil read with the wrong layout.
    QMessageBox box(QMessageBox::Warning, QString(),
                    QCoreApplication::translate("CConfiguratorApp",
                                                "The driver did not confirm the sensor model: %1 "
                                                "The first-run questions come again at the next "
                                                "start.")
                        .arg(problem));
    box.setObjectName(QStringLiteral("FirstRunFailed"));
    box.setAccessibleName(box.text());
    box.exec();
}

QString CConfiguratorApp::GiveModelToDriver(DriverView& driver, DriverLauncher& launcher,
                                            const QString& driverLock, int32_t modelCode) {
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("CConfiguratorApp", text);
    };
    const auto absent = [&] {
        return NoDriverReason(LookAtAbsentDriver(driver, launcher, driverLock));
    };
    Registry& records = driver.Records();
    const SensorLayout layout = LayoutOfModelCode(modelCode);
    const auto knowsLayout = [&] {
        return driver.Answering() && driver.Knows(records.splitState) &&
               driver.Knows(records.commsReqState);
    };
    // What was heard before the dialog may be long past: a driver that has not heard the
    // Controller for 5 s takes its next datagram as first contact and answers with all its
    // records, and the first of them, after the silence, makes the view forget what it knew,
    // halfway through the model. So only records the driver sends now count; a driver that is
    // still starting gets its moment to send them.
    driver.ForgetDriver();
    if (!AwaitDriver(driver, knowsLayout, kFirstRunDriverWaitMs)) {
        return tr("no driver answers: %1").arg(absent());
    }
    SetModel(driver, modelCode);
    // The model and its save request go out before the stop, or the driver ends without them.
    const auto allSent = [&] {
        driver.Poll();
        return driver.Waiting() == 0;
    };
    if (!AwaitDriver(driver, allSent, kFirstRunDriverWaitMs)) {
        return tr("the driver stopped answering before it had the model: %1").arg(absent());
    }
    records.driverDoStop.RaiseCounted();
    PauseWithEvents(kFirstRunStopPauseMs);
    // Only what the new driver says counts: it starts once the old one has let go of its
    // lock, reads the model from its settings file and tells it in its publish-all.
    QElapsedTimer ending;
    ending.start();
    while (!LockIsFree(driverLock) && ending.elapsed() < kDriverEndWaitMs) {
        PauseWithEvents(kConnectPollMs);
    }
    driver.ForgetDriver();
    launcher.StartWhenOldEnded();
    if (AwaitDriver(
            driver, [&] { return driver.Answering() && DriverHasLayout(driver, layout); },
            kFirstRunDriverWaitMs)) {
        return {};
    }
    if (knowsLayout()) {
        return tr(
            "the restarted driver answers with another sensor layout than the model's: "
            "it did not keep the model in its settings file (a folder it cannot write, or "
            "a simulated foil with a layout of its own).");
    }
    return tr("the restarted driver does not answer: %1").arg(absent());
}

void CConfiguratorApp::LoadLanguage(QApplication& app, int lang) {
    const QString path = programFolder_ + QLatin1String(kChineseLanguageFile);
    switch (LanguageChoiceOf(lang)) {
        case LanguageChoice::English:
            return;
        case LanguageChoice::Chinese: {
            auto* translator = new QTranslator(&app);
            if (translator->load(path)) {
                QCoreApplication::installTranslator(translator);
            } else {
                delete translator;
                QMessageBox::warning(
                    nullptr, QString(),
                    QCoreApplication::translate("CConfiguratorApp", "%1 文件不存在").arg(path));
            }
            return;
        }
        case LanguageChoice::Unknown:
            QMessageBox::warning(
                nullptr, QString(),
                QCoreApplication::translate("CConfiguratorApp", "%1 is not found").arg(path));
            return;
    }
}

}  // namespace kv::controller
