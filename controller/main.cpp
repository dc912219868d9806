// The Controller program: the configuration window of the touch foil driver.
#include <QApplication>
#include <cstdio>

#include "controller/controller_app.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Controller"));
    const kv::controller::ParsedControllerOptions parsed =
        kv::controller::ParseControllerOptions(QApplication::arguments().mid(1));
    if (!parsed.ok) {
        std::fprintf(stderr, "Controller: %s\n%s", qPrintable(parsed.message),
                     qPrintable(kv::controller::ControllerUsage()));
        return 2;
    }
    kv::controller::CConfiguratorApp controller(parsed.options);
    return controller.Run(app);
}
