// Renders the Controller's main window (About tab), its graph view and the About page to PNG
// files for the README, from a registry filled with plausible driver values (an S64 foil with
// a finger near the middle), on Qt's offscreen platform: no display or driver needed.
//   controller-shots FOLDER
#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QWidget>
#include <cmath>
#include <cstdio>
#include <memory>

#include "controller/about_page.h"
#include "controller/main_dialog.h"
#include "messaging/registry.h"

namespace {

// A finger over electrode `centre`: a bump on a low noise floor, in scaled counts.
void FillAxis(kv::Graph& graph, int count, double centre) {
    for (int i = 0; i < count; ++i) {
        const double distance = (i - centre) / 1.6;
        graph.Values[i] = static_cast<float>(0.6 + 0.25 * std::sin(i * 1.7) +
                                             11.0 * std::exp(-distance * distance));
    }
}

void FillRegistry(kv::Registry& registry) {
    registry.splitState.Split0 = 20;
    registry.splitState.Split1 = 24;
    registry.commsReqState.MuxSize = 64;
    registry.commsActStatus.Connected = true;
    registry.commsActStatus.FramesLastPeriod = 248;
    registry.senseState.PressThreshold = 5;
    registry.senseState.CoarseRange = 11;
    FillAxis(registry.graphState0, 2 * registry.splitState.Split0, 17.3);
    FillAxis(registry.graphState1, registry.splitState.Split1, 9.6);
}

bool Save(QWidget& widget, const QString& path) {
    QApplication::processEvents();
    const bool saved = widget.grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: controller-shots FOLDER\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "controller-shots: cannot make %s\n", argv[1]);
        return 1;
    }

    auto registry = std::make_unique<kv::Registry>(kv::ProgramRole::Controller);
    FillRegistry(*registry);
    kv::controller::DialogContext context;
    context.registry = registry.get();
    context.trayAvailable = [] { return false; };
    context.connected = [] { return true; };
    context.sayHello = [] {};
    kv::controller::CConfiguratorDlg dialog(context);
    dialog.resize(640, 480);
    dialog.show();

    bool ok = true;
    auto* tabs = dialog.findChild<QTabWidget*>(QStringLiteral("1000"));
    auto* about = dialog.findChild<kv::controller::Kelvarin_Copyright*>();
    if (tabs == nullptr || about == nullptr) {
        std::fprintf(stderr, "controller-shots: the tab widget or the About page is missing\n");
        return 1;
    }
    tabs->setCurrentWidget(about);
    about->Refresh();
    ok &= Save(dialog, folder.filePath(QStringLiteral("controller-main.png")));
    ok &= Save(*about, folder.filePath(QStringLiteral("controller-about.png")));

    // Maximising switches to the graph view.
    dialog.setWindowState(Qt::WindowMaximized);
    dialog.resize(800, 600);
    QApplication::processEvents();
    ok &= Save(dialog, folder.filePath(QStringLiteral("controller-graph.png")));
    return ok ? 0 : 1;
}
