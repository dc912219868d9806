// The Controller's window and start-up pieces on the offscreen platform: the tray fallback,
// the graph view, the language list, Quit, the driver restart after a first run, the options
// and the single-instance hand-over.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <vector>

#include "controller/app/controller_app.h"
#include "controller/app/first_run.h"
#include "controller/models/driver_view.h"
#include "controller/models/profile_file.h"
#include "controller/platform/driver_launcher.h"
#include "controller/platform/single_instance.h"
#include "controller/widgets/about_page.h"
#include "controller/widgets/main_dialog.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"

using namespace kv;
using namespace kv::controller;

namespace {

using kv::test::FakeClock;
using kv::test::FrameLog;

// Holds a flock on a file, as a running driver holds its lock.
class HeldLock {
public:
    explicit HeldLock(const QString& path) {
        fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ::flock(fd_, LOCK_EX | LOCK_NB);
    }
    ~HeldLock() { Release(); }
    void Release() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
};

}  // namespace

class ControllerUiTest : public QObject {
    Q_OBJECT

private:
    struct Window {
        Registry registry{ProgramRole::Controller};
        FrameLog transport;
        int hellos = 0;
        std::unique_ptr<CConfiguratorDlg> dialog;

        Window(int status, bool tray, ProfileFile* profile = nullptr) {
            registry.SetTransport(&transport);
            registry.MarkPeerHeard();  // a driver answering
            DialogContext context(registry);
            context.profile = profile;
            context.status = status;
            context.trayAvailable = [tray] { return tray; };
            context.sayHello = [this] { ++hellos; };
            dialog = std::make_unique<CConfiguratorDlg>(context);
        }
        QPushButton* Button(const char* id) const {
            return dialog->findChild<QPushButton*>(QString::fromLatin1(id));
        }
        // Presence datagrams sent by one tick of the presence timer.
        int PresenceSentByTick() {
            const int before = static_cast<int>(transport.frames.size());
            dialog->PresenceTick();
            return static_cast<int>(transport.frames.size()) - before;
        }
    };

private slots:
    void hidingWithoutTrayMinimisesAndKeepsPresence() {
        // STATUS 2 on a desktop without a tray: the window must stay reachable.
        Window window(2, false);
        window.dialog->ShowAtStart();
        QVERIFY(window.dialog->isVisible());
        QVERIFY(window.dialog->isMinimized());
        QVERIFY(!window.dialog->HiddenToTray());
        QCOMPARE(window.PresenceSentByTick(), 1);

        window.dialog->showNormal();
        window.Button("1")->click();  // "Run as Daemon"
        QVERIFY(window.dialog->isVisible());
        QVERIFY(window.dialog->isMinimized());
        QCOMPARE(window.PresenceSentByTick(), 1);
    }

    void hidingToTrayStopsPresenceUntilTheTrayClick() {
        Window window(1, true);
        window.dialog->ShowAtStart();
        QVERIFY(window.dialog->isVisible());
        QCOMPARE(window.PresenceSentByTick(), 1);

        window.Button("1")->click();
        QVERIFY(!window.dialog->isVisible());
        QVERIFY(window.dialog->HiddenToTray());
        QCOMPARE(window.PresenceSentByTick(), 0);

        window.dialog->ShowFromTray();
        QVERIFY(window.dialog->isVisible());
        QVERIFY(!window.dialog->HiddenToTray());
        QCOMPARE(window.hellos, 1);
        QCOMPARE(window.PresenceSentByTick(), 1);

        // STATUS 2 with a tray starts hidden to it.
        Window hidden(2, true);
        hidden.dialog->ShowAtStart();
        QVERIFY(!hidden.dialog->isVisible());
        QVERIFY(hidden.dialog->HiddenToTray());
    }

    void maximiseShowsTheGraphViewAndRestoreTheTabs() {
        Window window(1, false);
        window.dialog->ShowAtStart();
        auto* graph = window.dialog->findChild<QWidget*>(QStringLiteral("Graph"));
        auto* tabs = window.dialog->findChild<QWidget*>(QStringLiteral("1000"));
        auto* about = window.dialog->findChild<Kelvarin_Copyright*>();
        QVERIFY(graph && tabs && about);
        QVERIFY(!graph->isVisible());

        window.dialog->showMaximized();
        QVERIFY(window.dialog->GraphMode());
        QVERIFY(graph->isVisible());
        QVERIFY(!tabs->isVisible());
        QVERIFY(!window.Button("1")->isVisible());
        // A visible way back, and Escape, both restore the pages.
        QVERIFY(window.Button("GraphBack")->isVisible());
        QTest::keyClick(window.dialog.get(), Qt::Key_Escape);
        QVERIFY(!window.dialog->GraphMode());
        QVERIFY(!window.Button("GraphBack")->isVisible());
        window.dialog->showMaximized();
        window.Button("GraphBack")->click();
        QVERIFY(!window.dialog->GraphMode());
        window.dialog->showMaximized();
        // The About text is not rebuilt while the graph view is shown.
        const QString before = about->Text();
        window.registry.commsActStatus.FramesLastPeriod = 4321;
        about->Refresh();
        QCOMPARE(about->Text(), before);

        window.dialog->showNormal();
        QVERIFY(!window.dialog->GraphMode());
        QVERIFY(!graph->isVisible());
        QVERIFY(tabs->isVisible());
        about->Refresh();
        QVERIFY(about->Text().contains(QStringLiteral("4321")));

        Window graphAtStart(3, false);
        graphAtStart.dialog->ShowAtStart();
        QVERIFY(graphAtStart.dialog->GraphMode());
    }

    void escapeAndEnterNeitherEndNorHideTheWindow() {
        Window window(1, true);
        window.dialog->ShowAtStart();
        QSignalSpy quit(window.dialog.get(), &CConfiguratorDlg::QuitRequested);
        QTest::keyClick(window.dialog.get(), Qt::Key_Escape);
        QTest::keyClick(window.dialog.get(), Qt::Key_Return);
        QTest::keyClick(window.dialog.get(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(quit.count(), 0);
        QVERIFY(window.dialog->isVisible());
        QVERIFY(!window.dialog->HiddenToTray());
        // Enter on a focused button presses that button.
        window.Button("1")->setFocus();
        QTest::keyClick(window.Button("1"), Qt::Key_Return);
        QVERIFY(window.dialog->HiddenToTray());
    }

    void languageListWritesLangAndQuitAsksForASave() {
        QTemporaryDir folder;
        ProfileFile profile(folder.filePath(QStringLiteral("CONTROLLER.INI")).toStdString());
        QVERIFY(profile.CreateWithDefaults());
        // A chosen monitor switched off at start: the About page says so, the choice is kept.
        profile.WriteString("GENERAL", "MONITOR", "HDMI-9");
        Window window(1, false, &profile);
        window.dialog->ShowAtStart();
        QVERIFY(window.dialog->findChild<Kelvarin_Copyright*>()->Notice().contains(
            QStringLiteral("HDMI-9")));
        QCOMPARE(profile.ReadString("GENERAL", "MONITOR", ""), std::string("HDMI-9"));
        auto* languages = window.dialog->findChild<QComboBox*>(QStringLiteral("LanguageList"));
        QVERIFY(languages);
        QCOMPARE(languages->count(), 2);

        QString shown;
        QTimer::singleShot(0, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->accept();
            }
        });
        languages->setCurrentIndex(1);
        emit languages->activated(1);
        QCOMPARE(profile.ReadInt("GENERAL", "LANG", 0), 17);
        QCOMPARE(shown, QStringLiteral("Language changed, please close this program and restart"));

        QSignalSpy quit(window.dialog.get(), &CConfiguratorDlg::QuitRequested);
        const int32_t sequence = window.registry.storeDoSave.header.sequence;
        const int sentBefore = static_cast<int>(window.transport.frames.size());
        window.Button("2")->click();  // "Quit"
        QCOMPARE(quit.count(), 1);
        QCOMPARE(window.registry.storeDoSave.header.sequence, sequence + 1);
        QCOMPARE(window.registry.storeDoSave.header.eventValid, 1);
        QVERIFY(static_cast<int>(window.transport.frames.size()) > sentBefore);
    }

    void chineseTextsComeFromTheBuiltLanguageFile() {
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(KV_CONTROLLER_QM)));
        QCoreApplication::installTranslator(&translator);
        Window window(1, false);
        QCoreApplication::removeTranslator(&translator);
        auto* tabs = window.dialog->findChild<QTabWidget*>(QStringLiteral("1000"));
        QVERIFY(tabs);
        QCOMPARE(tabs->tabText(0), QStringLiteral("设置"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("关于"));
        QCOMPARE(window.Button("2")->text(), QStringLiteral("退出"));
        QCOMPARE(window.Button("2")->accessibleName(), QStringLiteral("退出"));
        auto* about = window.dialog->findChild<Kelvarin_Copyright*>();
        QCoreApplication::installTranslator(&translator);
        about->Refresh();
        QCoreApplication::removeTranslator(&translator);
        QVERIFY2(about->Text().startsWith(QStringLiteral("加载驱动：成功！")),
                 qPrintable(about->Text()));
    }

    void restartWaitsUntilTheOldDriverHasEnded() {
        QTemporaryDir folder;
        const QString lockPath = folder.filePath(QStringLiteral("KELVARIN_DRIVER.lock"));
        FakeClock clock(0);
        auto held = std::make_unique<HeldLock>(lockPath);
        clock.OnSleep([&](int) {
            if (clock.NowMs() >= 300) {
                held->Release();  // the old driver ends
            }
        });
        std::vector<int64_t> startedAt;
        std::vector<bool> lockFreeAtStart;
        DriverLauncher launcher(
            QStringLiteral("/bin/Driver"), {QStringLiteral("--port=1")}, lockPath,
            [&](const QString&, const QStringList&) {
                startedAt.push_back(clock.NowMs());
                lockFreeAtStart.push_back(LockIsFree(lockPath));
                return true;
            },
            clock);
        QVERIFY(launcher.RestartNow());
        QCOMPARE(startedAt.size(), size_t{1});
        QVERIFY(startedAt[0] >= 300);
        QVERIFY(lockFreeAtStart[0]);

        // A driver that never lets go: the new one is still started once the wait is over.
        HeldLock stuck(lockPath);
        clock.OnSleep(nullptr);
        clock.Set(0);
        QVERIFY(launcher.RestartNow());
        QCOMPARE(startedAt.size(), size_t{2});
        QVERIFY(startedAt[1] >= kDriverEndWaitMs);
        QVERIFY(!lockFreeAtStart[1]);
    }

    void aDriverThatDoesNotAnswerIsExplainedByWhatTheControllerCanSee() {
        QTemporaryDir folder;
        const QString lockPath = folder.filePath(QStringLiteral("KELVARIN_DRIVER.lock"));
        const QString program = folder.filePath(QStringLiteral("Driver"));
        Registry registry(ProgramRole::Controller);
        DriverView driver(registry);
        bool startWorks = true;
        DriverLauncher launcher(program, {}, lockPath,
                                [&](const QString&, const QStringList&) { return startWorks; });
        const auto reason = [&] {
            launcher.StartNow();
            return NoDriverReason(LookAtAbsentDriver(driver, launcher, lockPath));
        };
        QVERIFY2(reason().contains(QStringLiteral("is missing")), qPrintable(reason()));

        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY2(reason().contains(QStringLiteral("cannot be run")), qPrintable(reason()));

        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
        startWorks = false;
        QVERIFY2(reason().contains(QStringLiteral("could not be started")), qPrintable(reason()));
        startWorks = true;
        QVERIFY2(reason().contains(QStringLiteral("ended at once")), qPrintable(reason()));
        {
            HeldLock running(lockPath);
            QVERIFY2(reason().contains(QStringLiteral("does not answer")), qPrintable(reason()));
        }

        // Another user's program on the driver's port is named before anything of ours.
        driver.SetPortHolder(23000, [] { return std::optional<uint32_t>(1234); });
        QVERIFY2(reason().contains(QStringLiteral("port 23000")) &&
                     reason().contains(QStringLiteral("uid 1234")),
                 qPrintable(reason()));
    }

    void optionsGiveTheDriverItsPortsAndOptions() {
        const ParsedControllerOptions parsed = ParseControllerOptions(
            {QStringLiteral("--port=0"), QStringLiteral("--driver-port"), QStringLiteral("23000"),
             QStringLiteral("--driver-option=--simulate=demo"),
             QStringLiteral("--driver-option=--pointer=none")});
        QVERIFY(parsed.ok);
        QCOMPARE(
            DriverArguments(parsed.options, 40000),
            QStringList({QStringLiteral("--port=23000"), QStringLiteral("--peer-port=40000"),
                         QStringLiteral("--simulate=demo"), QStringLiteral("--pointer=none")}));
        QCOMPARE(
            DriverArguments(ControllerOptions{}, kControllerPort),
            QStringList({QStringLiteral("--port=11249"), QStringLiteral("--peer-port=11243")}));
        QVERIFY(!ParseControllerOptions({QStringLiteral("--driver-port=0")}).ok);
        QVERIFY(!ParseControllerOptions({QStringLiteral("--port=70000")}).ok);
        QVERIFY(!ParseControllerOptions({QStringLiteral("--verbose=1")}).ok);
        QVERIFY(!ParseControllerOptions({QStringLiteral("--port")}).ok);
        // An unknown option is named as such, not taken to want a value.
        QCOMPARE(ParseControllerOptions({QStringLiteral("--bogus")}).message,
                 QStringLiteral("unknown option: --bogus"));
        const ParsedControllerOptions info =
            ParseControllerOptions({QStringLiteral("--driver-option"), QStringLiteral("--help"),
                                    QStringLiteral("--port=0")});
        QVERIFY(info.ok && !info.help);  // a value, not the option
        QVERIFY(ParseControllerOptions({QStringLiteral("--help")}).help);
        QVERIFY(ParseControllerOptions({QStringLiteral("--version")}).version);
        QVERIFY(!ParseControllerOptions({QStringLiteral("--help=1")}).ok);

        QVERIFY(LanguageChoiceOf(17) == LanguageChoice::Chinese);
        QVERIFY(LanguageChoiceOf(18) == LanguageChoice::English);
        QVERIFY(LanguageChoiceOf(19) == LanguageChoice::English);
        QVERIFY(LanguageChoiceOf(5) == LanguageChoice::Unknown);
    }

    void secondInstanceAsksTheFirstToComeToTheFront() {
        QTemporaryDir folder;
        const QString lockPath = folder.filePath(QStringLiteral("KELVARIN_CONTROLLER.lock"));
        SingleInstance first(lockPath);
        QVERIFY(first.Acquire());
        QSignalSpy activated(&first, &SingleInstance::ActivationRequested);

        SingleInstance second(lockPath);
        QVERIFY(!second.Acquire());
        QVERIFY(second.AskRunningToActivate());
        QVERIFY(activated.wait(10000));
    }
};

QTEST_MAIN(ControllerUiTest)
#include "controller_ui_test.moc"
