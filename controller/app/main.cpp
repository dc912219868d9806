// The Controller program: the configuration window of the touch foil driver.
#include <csignal>

#include <QApplication>
#include <cstdio>

#include "controller/app/controller_app.h"

int main(int argc, char** argv) {
    // A send to a driver that has gone must fail, not end the Controller.
    std::signal(SIGPIPE, SIG_IGN);
    // --help, --version and command-line errors work without a display.
    if (const int status = kv::controller::AnswerInfoOptions(argc, argv); status >= 0) {
        return status;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Controller"));
    // Lets a Wayland compositor match the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("kelvarin-controller"));
    const kv::controller::ParsedControllerOptions parsed =
        kv::controller::ParseControllerOptions(QApplication::arguments().mid(1));
    if (!parsed.ok) {
        std::fprintf(stderr, "Controller: %s\nTry 'Controller --help'.\n",
                     qPrintable(parsed.message));
        return kv::controller::kControllerExitUsage;
    }
    if (parsed.help || parsed.version) {
        // Only after Qt's own options (-platform ...), which the early answer cannot read.
        const QString settings =
            kv::controller::ControllerSettingsPath(QCoreApplication::applicationDirPath());
        std::fputs(qPrintable(parsed.help ? kv::controller::ControllerUsage(settings)
                                          : kv::controller::ControllerVersion() + "\n"),
                   stdout);
        return 0;
    }
    kv::controller::CConfiguratorApp controller(parsed.options);
    return controller.Run(app);
}
