// The "Advanced" page on the offscreen platform: the touch mode radios and the driver's mode,
// the edge sliders (inverted left and top, the steps, the start-up ticks), the driver buttons,
// start at login, and the factory reset's steps on a fake clock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "controller/models/factory_reset.h"
#include "controller/models/profile_file.h"
#include "controller/platform/autostart.h"
#include "controller/platform/driver_launcher.h"
#include "controller/platform/output_mapping.h"
#include "controller/widgets/advanced_page.h"
#include "controller/widgets/basic_page.h"
#include "controller/widgets/main_dialog.h"

#include "tests/controller/driver_side.h"
#include "tests/support/fake_clock.h"

using namespace kv;
using namespace kv::controller;

namespace {

using kv::controller::test::LinkedRegistries;
using kv::controller::test::Sent;
using kv::test::FakeClock;

}  // namespace

class AdvancedPageTest : public QObject {
    Q_OBJECT

private:
    struct Page : LinkedRegistries {
        QTemporaryDir folder;
        std::unique_ptr<ProfileFile> profile;
        std::atomic<int> starts{0};
        std::unique_ptr<DriverLauncher> launcher;
        DialogContext context{registry};
        std::unique_ptr<Kelvarin_Advanced> page;
        // The driver is in driverFolder when one is given, else beside CONTROLLER.INI.
        // Two monitors side by side unless a test changes them.
        DesktopLayout layout{{{QStringLiteral("LEFT"), QRect(0, 0, 1280, 800)},
                              {QStringLiteral("RIGHT"), QRect(1280, 0, 1280, 800)}},
                             QRect(0, 0, 2560, 800)};
        // monitor: the MONITOR value CONTROLLER.INI holds at start, if any; answered: the
        // driver's records have arrived before the page is built.
        explicit Page(int custom = 0, const QString& driverFolder = QString(),
                      const char* monitor = nullptr, bool answered = true,
                      OutputMapper* mapper = nullptr) {
            if (answered) {
                DriverAnswers();
            }
            profile = std::make_unique<ProfileFile>(
                folder.filePath(QStringLiteral("CONTROLLER.INI")).toStdString());
            profile->CreateWithDefaults();
            profile->WriteInt("BOOT", "CUSTOM", custom);
            if (monitor != nullptr) {
                profile->WriteString("GENERAL", "MONITOR", monitor);
            }
            context.desktopLayout = [this] { return layout; };
            context.outputMapper = mapper;
            const QDir driverDir(driverFolder.isEmpty() ? folder.path() : driverFolder);
            launcher = std::make_unique<DriverLauncher>(
                driverDir.filePath(QStringLiteral("Driver")), QStringList(), LockPath(),
                [this](const QString&, const QStringList&) {
                    ++starts;
                    return true;
                });
            context.profile = profile.get();
            context.launcher = launcher.get();
            page = std::make_unique<Kelvarin_Advanced>(context);
            page->SetConfirmer([this](const QString& title, const QString&) {
                asked.push_back(title.toStdString());
                return confirm;
            });
            page->resize(700, 400);
            page->show();
        }
        bool confirm = true;
        std::vector<std::string> asked;
        QString LockPath() const { return folder.filePath(QStringLiteral("driver.lock")); }
        template <class W>
        W* Get(const char* id) {
            return page->findChild<W*>(QString::fromLatin1(id));
        }
        // The page's refresh and the driver view's poll, as the window's timers run them.
        void Tick() {
            page->Refresh();
            context.driver->Poll();
        }
    };

private slots:
    void TouchModeRadiosSendAndFollowTheDriver() {
        Page p;
        auto* tuio = p.Get<QRadioButton>("1018");
        auto* single = p.Get<QRadioButton>("1015");
        QVERIFY(tuio != nullptr && single != nullptr);
        QCOMPARE(tuio->text(), QStringLiteral("TUIO - MT2 ( Port: 3333 )"));
        QVERIFY(single->isChecked());  // the record's construction value 0

        // The driver reports TUIO: the next tick shows it.
        p.registry.outputState.Selection = 2;
        p.page->Refresh();
        QVERIFY(tuio->isChecked());
        QVERIFY(!single->isChecked());

        // A value outside 0 ... 3 leaves the radios as they are.
        p.registry.outputState.Selection = 7;
        p.page->Refresh();
        QVERIFY(tuio->isChecked());

        // A click writes the selection, then asks the driver to save.
        p.driver.link.received.clear();
        auto* native = p.Get<QRadioButton>("1017");
        QTest::mouseClick(native, Qt::LeftButton, {}, QPoint(5, native->height() / 2));
        QVERIFY(native->isChecked());
        QCOMPARE(p.driver.link.received, (Sent{"Output/State", "Store/DoSave"}));
        QCOMPARE(p.driver.driver.outputState.Selection, 3);

        // A screen reader's action on a radio selects it the same way.
        p.driver.link.received.clear();
        auto* zoom = p.Get<QRadioButton>("1016");
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(zoom);
        QVERIFY(accessible != nullptr && accessible->actionInterface() != nullptr);
        const QStringList actions = accessible->actionInterface()->actionNames();
        QVERIFY(!actions.isEmpty());
        accessible->actionInterface()->doAction(actions.first());
        QTRY_VERIFY(zoom->isChecked());
        QTRY_COMPARE(p.driver.link.received, (Sent{"Output/State", "Store/DoSave"}));
        QCOMPARE(p.driver.driver.outputState.Selection, 1);

        // Mouse control is never shown, also after the driver's mode changed.
        p.registry.outputState.Mode = 5;
        p.page->Refresh();
        auto* mouse = p.Get<QWidget>("1055");
        QVERIFY(mouse != nullptr);
        QVERIFY(!mouse->isVisible());
        QVERIFY(p.Get<QRadioButton>("1014")->isChecked());
        QVERIFY(!p.Get<QRadioButton>("1014")->isVisible());
    }

    void EdgeSlidersShowTheDriverAndSendInvertedValues() {
        // Built before the driver has answered: a move waits for the driver's record.
        Page p(0, QString(), nullptr, false);
        auto* left = p.Get<QSlider>("1006");
        auto* top = p.Get<QSlider>("1009");
        auto* bottom = p.Get<QSlider>("1021");
        QVERIFY(left != nullptr && top != nullptr && bottom != nullptr);
        QCOMPARE(left->maximum(), 100);
        // Vertical sliders have 0 at the top, as the values run.
        QVERIFY(top->invertedAppearance() && bottom->invertedAppearance());

        p.driver.driver.edgeState.Left = 10;
        p.driver.driver.edgeState.Top = 20;
        p.driver.driver.edgeState.Bottom = 40;
        left->setValue(30);
        p.Tick();
        QVERIFY(p.driver.link.received.empty());
        // The driver's record arrives: the move goes onto it, the driver's other edges kept.
        p.DriverAnswers();
        p.Tick();
        QCOMPARE(p.driver.link.received, (Sent{"Edge/State", "Store/DoSave"}));
        QCOMPARE(p.driver.driver.edgeState.Left, 70);
        QCOMPARE(p.driver.driver.edgeState.Top, 20);
        QCOMPARE(p.driver.driver.edgeState.Bottom, 40);
        p.Tick();
        QCOMPARE(left->value(), 30);
        QCOMPARE(top->value(), 80);
        QCOMPARE(bottom->value(), 40);
        QCOMPARE(p.driver.link.received.size(), size_t{2});  // nothing moved: nothing sent

        // "+" raises the left edge: the inverted slider goes down by 5.
        QTest::mouseClick(p.Get<QPushButton>("1031"), Qt::LeftButton);
        QCOMPARE(left->value(), 25);
        p.Tick();
        QCOMPARE(p.driver.driver.edgeState.Left, 75);
        // "-" on the bottom lowers it; the steps stay within 0 ... 100.
        QTest::mouseClick(p.Get<QPushButton>("1011"), Qt::LeftButton);
        QCOMPARE(bottom->value(), 35);
        top->setValue(98);
        QTest::mouseClick(p.Get<QPushButton>("1010"), Qt::LeftButton);
        QCOMPARE(top->value(), 100);
        p.Tick();
        QCOMPARE(p.driver.driver.edgeState.Bottom, 35);
        QCOMPARE(p.driver.driver.edgeState.Top, 0);

        // A driver that comes back with other values (a reset): the sliders show them.
        p.driver.driver.edgeState.Right = 60;
        p.registry.ForgetArrivals();
        p.DriverAnswers();
        p.Tick();
        QCOMPARE(p.Get<QSlider>("1007")->value(), 60);
    }

    void MonitorChoiceSendsItsRegionIsRememberedAndFollowsTheLayout() {
        Page p;
        auto* combo = p.Get<QComboBox>("Monitor");
        QVERIFY(combo != nullptr);
        QCOMPARE(combo->accessibleName(), QStringLiteral("Monitor:"));
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->itemText(0), QStringLiteral("Whole desktop"));
        QCOMPARE(combo->itemText(2), QStringLiteral("RIGHT (1280\u00d7800)"));
        QCOMPARE(combo->currentIndex(), 0);
        // Nothing chosen: nothing sent at start, the region stays the driver's.
        QVERIFY(p.driver.link.received.empty());
        const auto& sent = p.driver.driver.calibState;

        // The right-hand monitor: its half of the desktop with regional mapping, then the save.
        emit combo->activated(2);
        QCOMPARE(p.driver.link.received, (Sent{"Calib/State", "Store/DoSave"}));
        QCOMPARE(static_cast<int>(sent.exclude_edge_flag), 2);
        QCOMPARE(static_cast<float>(sent.exclude_edge_left), 0.5f);
        QCOMPARE(static_cast<float>(sent.exclude_edge_top), 0.0f);
        QCOMPARE(static_cast<float>(sent.exclude_edge_right), 1.0f);
        QCOMPARE(static_cast<float>(sent.exclude_edge_bottom), 1.0f);
        QCOMPARE(p.profile->ReadString("GENERAL", "MONITOR", "?"), std::string("RIGHT"));
        // The rest of CONTROLLER.INI is as it was.
        QCOMPARE(p.profile->ReadInt("GENERAL", "LANG", 0), 19);
        QCOMPARE(p.profile->ReadInt("BOOT", "STATUS", 0), 1);

        // The left monitor grows to 1920: the right one moves and its region follows.
        p.driver.link.received.clear();
        p.layout.monitors[0].geometry = QRect(0, 0, 1920, 800);
        p.layout.monitors[1].geometry = QRect(1920, 0, 1280, 800);
        p.layout.desktop = QRect(0, 0, 3200, 800);
        p.page->LayoutChanged();
        QCOMPARE(p.driver.link.received, (Sent{"Calib/State", "Store/DoSave"}));
        QCOMPARE(static_cast<float>(sent.exclude_edge_left), 0.6f);
        QCOMPARE(static_cast<int>(sent.exclude_edge_flag), 2);
        QCOMPARE(combo->itemText(1), QStringLiteral("LEFT (1920\u00d7800)"));
        QCOMPARE(combo->currentIndex(), 2);
        // A change that leaves the region as it is sends nothing.
        p.driver.link.received.clear();
        p.page->LayoutChanged();
        QVERIFY(p.driver.link.received.empty());

        // The chosen monitor is switched off: the whole desktop meanwhile, said so; the choice
        // stays, in the list and in CONTROLLER.INI.
        const QList<MonitorInfo> both = p.layout.monitors;
        p.layout.monitors.removeLast();
        p.layout.desktop = QRect(0, 0, 1920, 800);
        p.page->LayoutChanged();
        QCOMPARE(p.driver.link.received, (Sent{"Calib/State", "Store/DoSave"}));
        QCOMPARE(static_cast<int>(sent.exclude_edge_flag), 1);
        QCOMPARE(static_cast<float>(sent.exclude_edge_left), 0.0f);
        QCOMPARE(static_cast<float>(sent.exclude_edge_right), 1.0f);
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->currentText(), QStringLiteral("RIGHT (not connected)"));
        QCOMPARE(p.page->ChosenMonitor(), QStringLiteral("RIGHT"));
        QVERIFY(combo->toolTip().contains(QStringLiteral("RIGHT")));
        QCOMPARE(p.profile->ReadString("GENERAL", "MONITOR", "?"), std::string("RIGHT"));

        // It comes back: the foil drives it again and the notice goes.
        p.driver.link.received.clear();
        p.layout.monitors = both;
        p.layout.desktop = QRect(0, 0, 3200, 800);
        p.page->LayoutChanged();
        QCOMPARE(p.driver.link.received, (Sent{"Calib/State", "Store/DoSave"}));
        QCOMPARE(static_cast<int>(sent.exclude_edge_flag), 2);
        QCOMPARE(combo->currentIndex(), 2);
        QVERIFY(combo->toolTip().isEmpty());

        // Choosing the whole desktop sends its region and forgets the monitor.
        p.driver.link.received.clear();
        emit combo->activated(0);
        QCOMPARE(p.driver.link.received, (Sent{"Calib/State", "Store/DoSave"}));
        QCOMPARE(static_cast<int>(sent.exclude_edge_flag), 1);
        QCOMPARE(p.profile->ReadString("GENERAL", "MONITOR", "?"), std::string());
    }

    void UnderACompositorThatPlacesTheTouchscreenTheRegionFollowsTheTouchMode() {
        // As KDE, GNOME and weston: the touchscreen (native touch) on the output the
        // compositor is told, the absolute pointer spread over the whole desktop.
        struct Compositor final : OutputMapper {
            QStringList told;
            OutputMapping Map(const QString& output) override {
                told.append(output);
                if (output.isEmpty()) {
                    return {};
                }
                return {false, true, QStringLiteral("Put the touchscreen on ") + output};
            }
        } compositor;
        Page p(0, QString(), nullptr, true, &compositor);
        auto* note = p.Get<QLabel>("MappingNote");
        QVERIFY(note != nullptr && !note->isVisible());
        const auto& sent = p.driver.driver.calibState;
        const auto flagIn = [&](int selection) {
            p.registry.outputState.Selection = selection;
            p.driver.link.received.clear();
            p.page->Refresh();
            return static_cast<int>(sent.exclude_edge_flag);
        };

        emit p.Get<QComboBox>("Monitor")->activated(2);
        QCOMPARE(compositor.told, QStringList{QStringLiteral("RIGHT")});
        QVERIFY(note->isVisible());
        QCOMPARE(note->accessibleName(), QStringLiteral("Put the touchscreen on RIGHT"));
        // Single touch drives the pointer: the driver keeps the foil on RIGHT's half.
        QCOMPARE(static_cast<int>(sent.exclude_edge_flag), 2);
        QCOMPARE(static_cast<float>(sent.exclude_edge_left), 0.5f);
        // Native touch: the compositor places it, the driver gives the whole range; TUIO and
        // pinch scroll have the region again. The compositor is told once.
        QCOMPARE(flagIn(3), 1);
        QCOMPARE(static_cast<float>(sent.exclude_edge_left), 0.0f);
        QCOMPARE(flagIn(2), 2);
        QCOMPARE(static_cast<float>(sent.exclude_edge_left), 0.5f);
        QCOMPARE(flagIn(3), 1);
        QCOMPARE(flagIn(1), 2);
        QCOMPARE(compositor.told, QStringList{QStringLiteral("RIGHT")});

        // The whole desktop: the compositor places the devices as it would without us.
        emit p.Get<QComboBox>("Monitor")->activated(0);
        QCOMPARE(compositor.told, (QStringList{QStringLiteral("RIGHT"), QString()}));
        QVERIFY(!note->isVisible());
        QCOMPARE(static_cast<int>(sent.exclude_edge_flag), 1);
    }

    void RememberedMonitorGoesOntoTheDriversOwnRecord() {
        // Stored as RIGHT, the page built before the driver has answered: nothing goes out
        // with the Controller's construction values (a rotated calibration would be lost).
        Page p(0, QString(), "RIGHT", false);
        auto* combo = p.Get<QComboBox>("Monitor");
        QCOMPARE(p.page->ChosenMonitor(), QStringLiteral("RIGHT"));
        QCOMPARE(combo->currentText(), QStringLiteral("RIGHT (1280\u00d7800)"));
        p.driver.driver.calibState.Angle = 1;
        p.Tick();
        QVERIFY(p.driver.link.received.empty());
        // The driver's record arrives: the region is written onto it, its angle kept.
        p.DriverAnswers();
        p.Tick();
        QCOMPARE(p.driver.link.received, (Sent{"Calib/State", "Store/DoSave"}));
        const auto& sent = p.driver.driver.calibState;
        QCOMPARE(static_cast<int>(sent.exclude_edge_flag), 2);
        QCOMPARE(static_cast<float>(sent.exclude_edge_left), 0.5f);
        QCOMPARE(static_cast<int>(sent.Angle), 1);

        // A driver started again on other values is given the region once its record is in.
        p.driver.link.received.clear();
        p.driver.driver.calibState.exclude_edge_flag = 0;
        p.registry.ForgetArrivals();
        p.Tick();
        QVERIFY(p.driver.link.received.empty());
        p.DriverAnswers();
        p.Tick();
        p.Tick();
        QCOMPARE(p.driver.link.received, (Sent{"Calib/State", "Store/DoSave"}));
        QCOMPARE(static_cast<int>(sent.exclude_edge_flag), 2);
        QCOMPARE(static_cast<int>(sent.Angle), 1);

        // Stored, but not connected at start: the whole desktop for now, the choice kept.
        Page gone(0, QString(), "HDMI-9");
        QCOMPARE(gone.page->ChosenMonitor(), QStringLiteral("HDMI-9"));
        QCOMPARE(gone.Get<QComboBox>("Monitor")->currentText(),
                 QStringLiteral("HDMI-9 (not connected)"));
        QCOMPARE(static_cast<int>(gone.driver.driver.calibState.exclude_edge_flag), 1);
    }

    void EdgeRulesWithoutTheWindow() {
        EdgeState state;
        state.Left = 70;
        state.Right = 12;
        const EdgePositions shown = PositionsOf(state);
        QCOMPARE(shown.left, 30);
        QCOMPARE(shown.right, 12);
        QCOMPARE(StepEdgePosition(3, -kEdgeStep), 0);
        QCOMPARE(StepEdgePosition(97, kEdgeStep), 100);
        QCOMPARE(StepEdgePosition(30, -kEdgeStep), 25);
    }

    void DriverButtonsStopAndStartOnceTheOldDriverEnded() {
        Page p;
        // Auto adaption on the Setting page keeps the stop and the reset off.
        p.page->SetOtherBusy(true);
        QVERIFY(!p.Get<QPushButton>("1019")->isEnabled() &&
                !p.Get<QPushButton>("1033")->isEnabled());
        p.page->SetOtherBusy(false);
        // "Stop driver" asks first; "No" keeps the driver.
        p.confirm = false;
        QTest::mouseClick(p.Get<QPushButton>("1019"), Qt::LeftButton);
        QVERIFY(p.driver.link.received.empty());
        p.confirm = true;
        QTest::mouseClick(p.Get<QPushButton>("1019"), Qt::LeftButton);
        QCOMPARE(p.driver.link.received, (Sent{"Driver/DoStop"}));
        QCOMPARE(p.asked, (std::vector<std::string>{"Stop driver", "Stop driver"}));

        // The old driver still holds its lock: the new one waits for it.
        const int fd = ::open(p.LockPath().toLocal8Bit().constData(), O_RDWR | O_CREAT, 0600);
        QVERIFY(fd >= 0);
        QVERIFY(::flock(fd, LOCK_EX | LOCK_NB) == 0);
        QTest::mouseClick(p.Get<QPushButton>("1020"), Qt::LeftButton);
        QTest::qWait(2 * kLockPollMs);
        QCOMPARE(p.starts.load(), 0);
        ::close(fd);
        QTRY_COMPARE_WITH_TIMEOUT(p.starts.load(), 1, 30000);
    }

    void DriverButtonsSwitchTheSettingPageBackToItsGraphs() {
        Page p;
        QWidget window;
        auto* basic = new Kelvarin_Basic(p.registry, &window);
        p.page->setParent(&window);
        // Wired as the main window wires its pages.
        connect(p.page.get(), &Kelvarin_Advanced::DriverStartedOrStopped, basic,
                &Kelvarin_Basic::ShowGraphs);
        window.show();
        auto* graph = basic->findChild<QPushButton*>(QStringLiteral("1002"));
        auto* monitor = basic->findChild<QPushButton*>(QStringLiteral("1003"));
        QVERIFY(graph != nullptr && monitor != nullptr);
        for (const char* id : {"1019", "1020"}) {
            monitor->click();
            QVERIFY(graph->isEnabled());
            p.Get<QPushButton>(id)->click();
            QVERIFY(!graph->isEnabled());
            QVERIFY(monitor->isEnabled());
        }
        p.page->setParent(nullptr);
    }

    void BootWithOsWritesTheFlagAndTheAutostartEntry() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        {
            // The box shows the entry, whatever CONTROLLER.INI says.
            QVERIFY(WriteAutostartEntry("Kelvarin_Driver", "/opt/Driver"));
            Page withEntry;
            QVERIFY(withEntry.Get<QCheckBox>("1001")->isChecked());
            QVERIFY(RemoveAutostartEntry("Kelvarin_Driver"));
        }
        Page p;
        p.profile->WriteInt("BOOT", "DRIVER", 1);
        auto* boot = p.Get<QCheckBox>("1001");
        QVERIFY(boot != nullptr && !boot->isChecked());
        QTest::mouseClick(boot, Qt::LeftButton);
        QCOMPARE(p.profile->ReadInt("BOOT", "DRIVER", -1), 1);
        QVERIFY(HasAutostartEntry("Kelvarin_Driver"));
        QFile entry(config.filePath(QStringLiteral("autostart/Kelvarin_Driver.desktop")));
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QVERIFY(entry.readAll().contains(p.folder.filePath(QStringLiteral("Driver")).toUtf8()));
        QTest::mouseClick(boot, Qt::LeftButton);
        QCOMPARE(p.profile->ReadInt("BOOT", "DRIVER", -1), 0);
        QVERIFY(!HasAutostartEntry("Kelvarin_Driver"));
        qunsetenv("XDG_CONFIG_HOME");
    }

    void SettingButtonOnlyWithCustomLayouts() {
        Page standard(0);
        QVERIFY(!standard.Get<QPushButton>("1036")->isEnabled());
        Page custom(1);
        QVERIFY(custom.Get<QPushButton>("1036")->isEnabled());
        // It opens the advanced settings dialog, modally.
        QString opened;
        QTimer::singleShot(0, [&opened] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                opened = modal->objectName();
                modal->close();
            }
        });
        QTest::mouseClick(custom.Get<QPushButton>("1036"), Qt::LeftButton);
        QCOMPARE(opened, QStringLiteral("Kelvarin_AdvSetting"));
    }

    void FactoryResetDeletesSettingsWhileStoppedAndRestartsAfterTheLockIsFree() {
        FakeClock clock;
        std::vector<std::string> steps;
        std::vector<int> progress;
        bool lockFree = false;
        bool finished = false;
        FactoryResetActions actions;
        actions.progress = [&](int percent) { progress.push_back(percent); };
        actions.stopDriver = [&] {
            steps.push_back("stop");
            lockFree = false;  // the running driver holds its lock until it has ended
        };
        actions.driverEnded = [&] { return lockFree; };
        actions.deleteSettings = [&] {
            QVERIFY2(lockFree, "settings deleted while the driver still runs");
            steps.push_back("delete");
        };
        actions.startDriver = [&] {
            QVERIFY2(lockFree, "driver started before the old one ended");
            steps.push_back("start");
        };
        actions.driverAnswers = [] { return true; };
        actions.runFirstRunDialog = [&] {
            steps.push_back("dialog");
            return true;
        };
        actions.applyFirstRunChoice = [&] { steps.push_back("model"); };
        actions.finished = [&] { finished = true; };
        FactoryReset reset(actions, clock);

        auto run = [&](int ms) {
            for (int t = 0; t < ms; t += 50) {
                clock.Advance(50);
                reset.Tick();
            }
        };
        reset.Start();
        QVERIFY(reset.Running());
        run(3000);  // the old driver is slow to end: nothing deleted yet
        QCOMPARE(steps, (std::vector<std::string>{"stop"}));
        lockFree = true;
        run(1200);
        QCOMPARE(steps,
                 (std::vector<std::string>{"stop", "delete", "start", "dialog", "model", "stop"}));
        run(3000);  // the second stop waits for its lock too
        QCOMPARE(steps.back(), std::string("stop"));
        lockFree = true;
        run(1000);
        QCOMPARE(steps.back(), std::string("start"));
        QVERIFY(!finished);
        run(1000);
        QVERIFY(finished);
        QVERIFY(!reset.Running());
        QCOMPARE(progress, (std::vector<int>{5, 25, 45, 70, 90, 95, 99}));

        // Without a driver that ever lets go, the reset still ends.
        steps.clear();
        lockFree = false;
        finished = false;
        actions.startDriver = [&] { steps.push_back("start"); };
        actions.deleteSettings = [&] { steps.push_back("delete"); };
        FactoryReset stuck(actions, clock);
        stuck.Start();
        for (int t = 0; t < 20000 && stuck.Running(); t += 50) {
            clock.Advance(50);
            stuck.Tick();
        }
        QVERIFY(finished);

        // Cancelled while the old driver ends: nothing deleted, the driver started again.
        steps.clear();
        finished = false;
        FactoryReset cancelled(actions, clock);
        cancelled.Start();
        cancelled.Cancel();
        QVERIFY(finished && !cancelled.Running());
        QCOMPARE(steps, (std::vector<std::string>{"stop", "start"}));
    }

private:
    // Clicks "Factory reset", answers the first-run dialog with Chinese and waits for the end.
    static bool RunFactoryReset(Page& p) {
        bool askedFirstRun = false;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, [&askedFirstRun] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal->objectName() != QStringLiteral("initialDlg")) {
                return;
            }
            askedFirstRun = true;
            modal->findChild<QComboBox*>(QStringLiteral("1003"))->setCurrentIndex(1);
            modal->findChild<QPushButton*>(QStringLiteral("1"))->click();
        });
        watcher.start(20);

        QTest::mouseClick(p.Get<QPushButton>("1033"), Qt::LeftButton);
        [&] {
            QVERIFY(p.page->FactoryResetRunning());
            // The window stays responsive: the reset runs on a timer, not in a blocking loop.
            QVERIFY(
                p.page->findChild<QDialog*>(QStringLiteral("FactoryResetProgress"))->isVisible());
            QVERIFY(!p.Get<QPushButton>("1033")->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(!p.page->FactoryResetRunning(), 60000);
        }();
        return askedFirstRun;
    }

    static void Touch(const QString& path) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Sense]\n");
    }

private slots:
    void FactoryResetOnThePageDeletesTheDriverSettingsAndRestartsTheDriver() {
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        Page p;
        p.profile->WriteInt("GENERAL", "INDEX", 1);
        QCOMPARE(p.page->DriverSettingsFolder(), p.folder.path());  // a writable install
        Touch(p.folder.filePath(QStringLiteral("DRIVER.INI")));
        Touch(p.folder.filePath(QStringLiteral("KELVARIN.INI")));

        QVERIFY(RunFactoryReset(p));
        QVERIFY(!QTest::currentTestFailed());

        QVERIFY(!QFile::exists(p.folder.filePath(QStringLiteral("DRIVER.INI"))));
        QVERIFY(!QFile::exists(p.folder.filePath(QStringLiteral("KELVARIN.INI"))));
        QCOMPARE(p.profile->ReadInt("GENERAL", "LANG", 0), 17);
        QCOMPARE(p.profile->ReadInt("GENERAL", "INDEX", 0), 1);  // other keys stay
        QTRY_COMPARE_WITH_TIMEOUT(p.starts.load(), 2, 30000);
        QCOMPARE(std::count(p.driver.link.received.begin(), p.driver.link.received.end(),
                            std::string("Driver/DoStop")),
                 2);
        QVERIFY(!p.page->findChild<QDialog*>(QStringLiteral("FactoryResetProgress"))->isVisible());
        QVERIFY(p.Get<QPushButton>("1033")->isEnabled());
        qunsetenv("XDG_RUNTIME_DIR");
    }
    void FactoryResetOfADriverInAReadOnlyFolderDeletesItsSettingsInTheUsersConfiguration() {
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        // Root may write into any folder, so a folder that is not there stands for one the
        // user cannot write into: the rule looks only at whether the user may write there.
        Page p(0, QDir(QDir::tempPath()).filePath(QStringLiteral("kv-no-such-folder/lib")));
        const QString settings = QDir(config.path()).filePath(QStringLiteral("kelvarin-vyren"));
        QCOMPARE(p.page->DriverSettingsFolder(), settings);
        QVERIFY(QDir().mkpath(settings));
        Touch(QDir(settings).filePath(QStringLiteral("DRIVER.INI")));
        Touch(QDir(settings).filePath(QStringLiteral("KELVARIN.INI")));

        QVERIFY(RunFactoryReset(p));
        QVERIFY(!QTest::currentTestFailed());

        QVERIFY(!QFile::exists(QDir(settings).filePath(QStringLiteral("DRIVER.INI"))));
        QVERIFY(!QFile::exists(QDir(settings).filePath(QStringLiteral("KELVARIN.INI"))));
        QTRY_COMPARE_WITH_TIMEOUT(p.starts.load(), 2, 30000);
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_RUNTIME_DIR");
    }
};

QTEST_MAIN(AdvancedPageTest)
#include "advanced_page_test.moc"
