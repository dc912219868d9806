// Renders the Controller's windows to PNG files for the README: the main window (About tab),
// the Setting page with its electrode bars and with its touch trace, the graph view, the About
// page, the Advanced page, the Advanced Setting dialog and the calibration dialog with a corner
// being captured. The registry is filled with
// plausible driver values (an S64 foil with a finger near the middle); everything runs on Qt's
// offscreen platform with a fixed 1024 x 640 screen, so no display or driver is needed and the
// files come out the same on every run.
//   controller-shots FOLDER
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QWidget>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "controller/widgets/about_page.h"
#include "controller/widgets/adv_setting_dialog.h"
#include "controller/widgets/advanced_page.h"
#include "controller/widgets/basic_page.h"
#include "controller/widgets/calibrate_dialog.h"
#include "controller/widgets/main_dialog.h"
#include "protocol/registry.h"
#include "protocol/sensor_layout.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// The offscreen platform's screen; the calibration dialog covers it.
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 640;

// A finger over electrode `centre`: a bump on a low noise floor, in scaled counts.
void FillAxis(kv::Graph& graph, int count, double centre) {
    for (int i = 0; i < count; ++i) {
        const double distance = (i - centre) / 1.6;
        graph.Values[i] = static_cast<float>(0.6 + 0.25 * std::sin(i * 1.7) +
                                             11.0 * std::exp(-distance * distance));
    }
}

// The pointer reports of the last seconds as the driver copies them into the Monitor ring:
// a finger writing a row of loops, lifted, then underlining them; x and y in 0 .. 1 of the
// screen, -1 while no finger is down. The ring has wrapped, so the oldest entry is not the
// first slot.
void FillMonitorRing(kv::MonitorQueue& queue) {
    constexpr int kNewest = 97;
    constexpr int kLoops = 170;
    constexpr int kGap = 14;
    constexpr int kLine = 60;
    for (int age = 0; age < kv::MonitorQueue::kEntries; ++age) {
        kv::MonitorEntry entry;
        entry.Value9 = 1;  // device index
        entry.Value6 = -1.0f;
        entry.Value7 = -1.0f;
        if (age < kLoops) {
            // Three loops, moving right while circling, a little uneven like a hand.
            const double t = 6.0 * kPi * age / (kLoops - 1);
            entry.Value6 = static_cast<float>(0.16 + 0.6 * t / (6.0 * kPi) - 0.08 * std::sin(t));
            entry.Value7 = static_cast<float>(0.42 - 0.16 * std::cos(t) + 0.02 * std::sin(0.7 * t));
        } else if (age >= kLoops + kGap && age < kLoops + kGap + kLine) {
            const double s = static_cast<double>(age - kLoops - kGap) / (kLine - 1);
            entry.Value6 = static_cast<float>(0.14 + 0.70 * s);
            entry.Value7 = static_cast<float>(0.74 - 0.05 * s + 0.01 * std::sin(4 * kPi * s));
        }
        if (entry.Value6 >= 0.0f) {
            entry.Value4 = 1;  // pressed
            entry.Value5 = 1;
        }
        const int slot = (kNewest + 1 + age) % kv::MonitorQueue::kEntries;
        queue.entries[static_cast<size_t>(slot)] = entry;
    }
    queue.last = kNewest;
}

// The records count as the driver's own, just heard: each is passed through the registry's
// receiving side once.
void HearAsFromTheDriver(kv::Registry& registry) {
    std::vector<uint8_t> frame;
    for (const kv::TableEntry& entry : registry.Table()) {
        frame.resize(static_cast<size_t>(entry.record->FrameSize()));
        entry.record->WriteFrame(frame.data(), registry.SenderId());
        registry.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
    }
    registry.MarkPeerHeard();
}

void FillRegistry(kv::Registry& registry) {
    kv::SetLayout(registry, *kv::LayoutForModel("S64"));
    registry.commsActStatus.Connected = true;
    registry.commsActStatus.FramesLastPeriod = 248;
    registry.senseState.PressThreshold = 5;
    registry.senseState.CoarseRange = 11;
    FillAxis(registry.graphState0, 2 * registry.splitState.Split0, 17.3);
    FillAxis(registry.graphState1, registry.splitState.Split1, 9.6);
}

// What the Setting page shows besides the bars: the finger's signal level, output on and the
// trace of the last touches.
void FillSettingValues(kv::Registry& registry) {
    registry.senseStatus.Value = 17.5f;
    registry.outputState.Enable = true;
    FillMonitorRing(registry.monitorQueue);
}

// The driver capturing the top-right corner: the top-left one is taken, the finger has been
// held on the second target for 60 samples.
void FillCalibrationCapture(kv::Registry& registry) {
    registry.calibState.Active = true;
    registry.calibState.Progress = 60;
    registry.calibRefTL.RefFlag0 = false;
    registry.calibRefTR.RefFlag0 = true;
    registry.calibRefTR.RefValue = 60;
    registry.calibRefBL.RefFlag0 = false;
}

bool Save(QWidget& widget, const QString& path) {
    QApplication::processEvents();
    const bool saved = widget.grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

// Clicks the button with this identifier as a user would.
// Identifiers repeat across pages, so the button is looked for inside its own page.
bool Click(QWidget& page, const char* id) {
    auto* button = page.findChild<QAbstractButton*>(QString::fromLatin1(id));
    if (button == nullptr || !button->isVisible() || !button->isEnabled()) {
        std::fprintf(stderr, "controller-shots: button %s is missing or cannot be clicked\n", id);
        return false;
    }
    button->click();
    QApplication::processEvents();
    return true;
}

// Points the offscreen platform at a screen of the given size; false if the description
// cannot be written.
bool UseOffscreenScreen(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("screen.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QByteArray json = QStringLiteral(
                                "{\"screens\": [{\"name\": \"shots\", \"x\": 0, \"y\": 0, "
                                "\"width\": %1, \"height\": %2, \"logicalDpi\": 96, "
                                "\"dpr\": 1}], \"windowFrameMargins\": false}\n")
                                .arg(kScreenWidth)
                                .arg(kScreenHeight)
                                .toUtf8();
    if (file.write(json) != json.size()) {
        return false;
    }
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: controller-shots FOLDER\n");
        return 2;
    }
    const QTemporaryDir platformDir;
    if (!platformDir.isValid() || !UseOffscreenScreen(platformDir)) {
        std::fprintf(stderr, "controller-shots: cannot describe the offscreen screen\n");
        return 1;
    }
    QApplication app(argc, argv);
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "controller-shots: cannot make %s\n", argv[1]);
        return 1;
    }

    auto registry = std::make_unique<kv::Registry>(kv::ProgramRole::Controller);
    FillRegistry(*registry);
    HearAsFromTheDriver(*registry);
    kv::controller::DialogContext context(*registry);
    context.trayAvailable = [] { return false; };
    context.sayHello = [] {};
    // Two monitors side by side, for the Advanced page's monitor list.
    context.desktopLayout = [] {
        return kv::controller::DesktopLayout{
            {{QStringLiteral("HDMI-1"), QRect(0, 0, 1920, 1080)},
             {QStringLiteral("HDMI-2"), QRect(1920, 0, 1920, 1080)}},
            QRect(0, 0, 3840, 1080)};
    };
    kv::controller::CConfiguratorDlg dialog(context);
    dialog.resize(640, 480);
    dialog.show();

    bool ok = true;
    auto* tabs = dialog.findChild<QTabWidget*>(QStringLiteral("1000"));
    auto* about = dialog.findChild<kv::controller::Kelvarin_Copyright*>();
    auto* setting = dialog.findChild<kv::controller::Kelvarin_Basic*>();
    if (tabs == nullptr || about == nullptr || setting == nullptr) {
        std::fprintf(stderr, "controller-shots: the tab widget or a page is missing\n");
        return 1;
    }
    tabs->setCurrentWidget(about);
    about->Refresh();
    ok &= Save(dialog, folder.filePath(QStringLiteral("controller-main.png")));
    ok &= Save(*about, folder.filePath(QStringLiteral("controller-about.png")));

    // The Setting page with its manual controls open: the electrode bars under a finger,
    // then "Monitor" for the trace of the last touches.
    FillSettingValues(*registry);
    dialog.resize(800, 520);
    tabs->setCurrentWidget(setting);
    ok &= Click(*setting, "1012");
    setting->Refresh();
    ok &= Save(dialog, folder.filePath(QStringLiteral("controller-setting.png")));
    ok &= Click(*setting, "1003");
    setting->Refresh();
    ok &= Save(dialog, folder.filePath(QStringLiteral("controller-trace.png")));
    ok &= Click(*setting, "1002");

    // The Advanced page, and the Advanced Setting dialog for non-standard layouts.
    auto* advanced = dialog.findChild<kv::controller::Kelvarin_Advanced*>();
    if (advanced == nullptr) {
        std::fprintf(stderr, "controller-shots: the Advanced page is missing\n");
        return 1;
    }
    tabs->setCurrentWidget(advanced);
    // The foil on the right-hand monitor; the region goes back for the calibration picture.
    auto* monitor = advanced->findChild<QComboBox*>(QStringLiteral("Monitor"));
    if (monitor == nullptr || monitor->count() != 3) {
        std::fprintf(stderr, "controller-shots: the monitor list is missing\n");
        return 1;
    }
    kv::CalibrationState& state = registry->calibState;
    const int32_t flag = state.exclude_edge_flag;
    const std::array<float, 4> edges = {state.exclude_edge_left, state.exclude_edge_top,
                                        state.exclude_edge_right, state.exclude_edge_bottom};
    monitor->setCurrentIndex(2);
    emit monitor->activated(2);
    QApplication::processEvents();
    ok &= Save(dialog, folder.filePath(QStringLiteral("controller-advanced.png")));
    state.exclude_edge_flag = flag;
    state.exclude_edge_left = edges[0];
    state.exclude_edge_top = edges[1];
    state.exclude_edge_right = edges[2];
    state.exclude_edge_bottom = edges[3];
    {
        kv::controller::Kelvarin_AdvSetting advSetting(context, nullptr);
        advSetting.show();
        QApplication::processEvents();
        ok &= Save(advSetting, folder.filePath(QStringLiteral("controller-advsetting.png")));
    }
    tabs->setCurrentWidget(about);
    dialog.resize(640, 480);

    // Maximising switches to the graph view.
    dialog.setWindowState(Qt::WindowMaximized);
    dialog.resize(800, 600);
    QApplication::processEvents();
    ok &= Save(dialog, folder.filePath(QStringLiteral("controller-graph.png")));
    dialog.setWindowState(Qt::WindowNoState);
    dialog.hide();

    // The calibration dialog: it asks for a capture, sees the driver capturing and the
    // top-right corner active, and shows that corner's target with its progress.
    kv::controller::CalibrateDlg calibration(*registry);
    calibration.show();
    FillCalibrationCapture(*registry);
    for (int tick = 0; tick < 6; ++tick) {
        calibration.Tick();
    }
    if (calibration.Steps().Target().corner != kv::controller::Corner::TopRight) {
        std::fprintf(stderr,
                     "controller-shots: the calibration dialog shows no top-right "
                     "target\n");
        return 1;
    }
    ok &= Save(calibration, folder.filePath(QStringLiteral("controller-calibration.png")));
    return ok ? 0 : 1;
}
