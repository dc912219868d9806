// The Setting page on the offscreen platform: what each control sends (the changed record,
// then the save request), the button limits, the manual controls, the level bar's drawing,
// the trace, and auto adaption running without blocking the window.
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <string>
#include <tuple>
#include <vector>

#include "controller/widgets/basic_graph.h"
#include "controller/widgets/basic_page.h"

#include "tests/controller/driver_side.h"

using namespace kv;
using namespace kv::controller;

namespace {

using kv::controller::test::LinkedRegistries;
using kv::controller::test::Sent;

}  // namespace

class BasicPageTest : public QObject {
    Q_OBJECT

private:
    struct Page : LinkedRegistries {
        std::unique_ptr<Kelvarin_Basic> page;
        QTimer heartbeat;  // the driver's datagrams: it keeps answering
        std::vector<QString> messages;
        // board: the driver reports its sensor board connected; answered: the driver is heard.
        explicit Page(bool board = true, bool answered = true) {
            driver.driver.senseState.CoarseRange = 12;
            driver.driver.senseState.PressThreshold = 6;
            driver.driver.commsActStatus.Connected = board;
            driver.driver.commsActStatus.FramesLastPeriod = 200;
            if (answered) {
                DriverAnswers();
                QObject::connect(&heartbeat, &QTimer::timeout,
                                 [this] { registry.MarkPeerHeard(); });
                heartbeat.start(500);
            }
            page = std::make_unique<Kelvarin_Basic>(registry);
            page->SetMessageShower([this](const QString& text) { messages.push_back(text); });
            page->resize(700, 400);
            page->show();
        }
        template <class W>
        W* Get(const char* id) {
            return page->findChild<W*>(QString::fromLatin1(id));
        }
    };

private slots:
    void EveryChangeSendsItsRecordThenTheSaveRequest() {
        Page p;
        auto* slider = p.Get<QSlider>("1006");
        QVERIFY(slider != nullptr);
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 50);
        QCOMPARE(slider->value(), 12);

        slider->setValue(20);
        QCOMPARE(p.driver.link.received, (Sent{"Sense/State", "Store/DoSave"}));
        QCOMPARE(p.driver.driver.senseState.CoarseRange, 20);
        QVERIFY(p.driver.driver.storeDoSave.ConsumeCounted());
        QCOMPARE(p.Get<QLabel>("1053")->text(), QStringLiteral("Sensitivity[20]"));

        p.driver.link.received.clear();
        p.Get<QPushButton>("1009")->click();
        QCOMPARE(p.driver.link.received, (Sent{"Sense/State", "Store/DoSave"}));
        QCOMPARE(p.driver.driver.senseState.PressThreshold, 7);
        QCOMPARE(p.Get<QSlider>("1010")->value(), 7);
        QCOMPARE(p.Get<QLabel>("1054")->text(), QStringLiteral("Threshold[7]"));

        p.driver.link.received.clear();
        p.Get<QPushButton>("1004")->click();
        QCOMPARE(p.driver.link.received, (Sent{"Sense/State", "Store/DoSave"}));
        QCOMPARE(p.driver.driver.senseState.CoarseRange, 19);
        QCOMPARE(slider->value(), 19);

        p.driver.link.received.clear();
        p.Get<QCheckBox>("1001")->click();
        QCOMPARE(p.driver.link.received, (Sent{"Output/State", "Store/DoSave"}));
        QVERIFY(p.driver.driver.outputState.Enable);
    }

    void ButtonsStopAt1And49WhileTheSlidersReach0And50() {
        Page p;
        auto* slider = p.Get<QSlider>("1006");
        slider->setValue(49);
        p.driver.link.received.clear();
        p.Get<QPushButton>("1005")->click();
        QCOMPARE(p.page->Sensitivity(), 49);
        QVERIFY(p.driver.link.received.empty());
        slider->setValue(50);
        QCOMPARE(p.page->Sensitivity(), 50);
        QCOMPARE(p.driver.driver.senseState.CoarseRange, 50);

        auto* threshold = p.Get<QSlider>("1010");
        threshold->setValue(1);
        p.driver.link.received.clear();
        p.Get<QPushButton>("1008")->click();
        QCOMPARE(p.page->Threshold(), 1);
        QVERIFY(p.driver.link.received.empty());
        threshold->setValue(0);
        QCOMPARE(p.driver.driver.senseState.PressThreshold, 0);
    }

    void ManualControlsAreHiddenUntilManual() {
        Page p;
        const char* manual[] = {"1047", "1052", "1001", "1048", "1002", "1003",
                                "1050", "1004", "1005", "1006", "1053", "1024",
                                "1008", "1009", "1010", "1054", "1051", "1023"};
        for (const char* id : manual) {
            auto* widget = p.Get<QWidget>(id);
            QVERIFY2(widget != nullptr, id);
            QVERIFY2(!widget->isVisible(), id);
        }
        QVERIFY(p.Get<QWidget>("1021")->isVisible());
        QCOMPARE(p.Get<QPushButton>("1007")->accessibleName(), QStringLiteral("Auto"));
        p.Get<QPushButton>("1012")->click();
        for (const char* id : manual) {
            QVERIFY2(p.Get<QWidget>(id)->isVisible(), id);
        }
        // The graph view first: "Graph" disabled, "Monitor" enabled; "Monitor" swaps them.
        QVERIFY(!p.Get<QPushButton>("1002")->isEnabled());
        QVERIFY(p.Get<QPushButton>("1003")->isEnabled());
        p.Get<QPushButton>("1003")->click();
        QVERIFY(p.Get<QPushButton>("1002")->isEnabled());
        QVERIFY(!p.Get<QPushButton>("1003")->isEnabled());
    }

    void OutOfRangeLevelsDrawAFullBar() {
        QCOMPARE(LevelBarLength(60.0f, 200), 200);
        QCOMPARE(LevelBarLength(-3.0f, 200), 200);
        QCOMPARE(LevelBarLength(25.0f, 200), 100);
        Page p;
        auto* bar = p.page->findChild<LevelBar*>(QStringLiteral("1024"));
        p.registry.senseStatus.Value = -3.0f;
        QImage image = bar->Render(QSize(200, 10));
        QCOMPARE(image.pixelColor(198, 5), kPageGreen);
        // Below the threshold mark the bar is red.
        p.registry.senseStatus.Value = 1.0f;
        image = bar->Render(QSize(200, 10));
        QCOMPARE(image.pixelColor(1, 5), kPageRed);
        QCOMPARE(image.pixelColor(198, 5), QColor(Qt::white));
    }

    void TheTraceBreaksAtInvalidPoints() {
        MonitorQueue queue;
        for (auto& entry : queue.entries) {
            entry.Value6 = -1.0f;  // invalid
        }
        // Newest at slot 1; walking starts at slot 2, so slots 254, 255, 0, 1 come last.
        queue.last = 1;
        queue.entries[254] = {};
        queue.entries[254].Value6 = 0.5f;
        queue.entries[255].Value6 = 0.5f;
        queue.entries[255].Value7 = 0.5f;
        queue.entries[0].Value6 = 2.0f;
        queue.entries[1].Value6 = 1.0f;
        queue.entries[1].Value7 = 1.0f;
        queue.entries[100].Value6 = 0.25f;
        queue.entries[100].Value7 = 0.25f;
        const std::vector<QPolygonF> lines = TraceLines(queue, QSizeF(100, 100));
        QCOMPARE(lines.size(), size_t{1});
        QCOMPARE(lines[0], (QPolygonF{QPointF(50, 0), QPointF(50, 50)}));
    }

    void ChineseLabelsAndMessages() {
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(KV_BASIC_QM)));
        QCoreApplication::installTranslator(&translator);
        {
            Page p;
            QCOMPARE(p.Get<QLabel>("1053")->text(), QStringLiteral("灵敏度[12]"));
            QCOMPARE(p.Get<QLabel>("1054")->text(), QStringLiteral("阈值[6]"));
            const char* context = "kv::controller::Kelvarin_Basic";
            QCOMPARE(QCoreApplication::translate(context, "Note: Do not touch the Touch Panel"),
                     QStringLiteral("注意：正在自动匹配，请不要触碰触控膜"));
            QCOMPARE(QCoreApplication::translate(context, "Successfully adaption!"),
                     QStringLiteral("成功-自动适应!"));
            QCOMPARE(QCoreApplication::translate(
                         context,
                         "Auto adaption failure! Electromagnetic interference is out of Auto "
                         "adaption Range \n Please manually adjust the Sensitivity and Threshold"),
                     QStringLiteral(
                         "失败-自动适应！电磁干扰超出了自动适应的范围，请手动调整灵敏度和阈值！"));
        }
        QCoreApplication::removeTranslator(&translator);
    }

    void RefreshFollowsTheDriverUnlessPaused() {
        Page p;
        bool paused = true;
        p.page->SetRefreshPaused([&] { return paused; });
        p.registry.outputState.Enable = true;
        p.registry.senseState.CoarseRange = 30;
        p.registry.senseState.PressThreshold = 9;
        p.page->Refresh();
        QVERIFY(!p.Get<QCheckBox>("1001")->isChecked());
        QCOMPARE(p.Get<QLabel>("1053")->text(), QStringLiteral("Sensitivity[12]"));
        paused = false;
        p.page->Refresh();
        QVERIFY(p.Get<QCheckBox>("1001")->isChecked());
        QCOMPARE(p.Get<QLabel>("1053")->text(), QStringLiteral("Sensitivity[30]"));
        QCOMPARE(p.Get<QLabel>("1054")->text(), QStringLiteral("Threshold[9]"));
        // The driver's values move the sliders without being sent back.
        QCOMPARE(p.Get<QSlider>("1006")->value(), 30);
        QCOMPARE(p.Get<QSlider>("1010")->value(), 9);
        QVERIFY(p.driver.link.received.empty());
    }

    void GraphViewDrawsBothAxesAndNothingWithoutASplit() {
        Page p;
        auto* area = p.page->findChild<BasicGraphArea*>(QStringLiteral("1021"));
        p.registry.senseState.PressThreshold = 25;  // the mark at half of each half
        p.registry.splitState.Split0 = 1;           // two X rows on the left
        p.registry.splitState.Split1 = 2;           // two Y rows on the right
        p.registry.graphState0.Values[0] = 12.5f;   // full
        p.registry.graphState0.Values[1] = 2.0f;    // short of the mark
        p.registry.graphState1.Values[1] = 12.5f;
        QImage image = area->Render(QSize(400, 200));
        QCOMPARE(image.pixelColor(150, 40), kPageGreen);
        QCOMPARE(image.pixelColor(10, 140), kPageRed);
        QCOMPARE(image.pixelColor(150, 140), QColor(Qt::white));
        QCOMPARE(image.pixelColor(350, 140), kPageGreen);
        QCOMPARE(image.pixelColor(350, 40), QColor(Qt::white));
        p.registry.splitState.Split1 = 0;
        image = area->Render(QSize(400, 200));
        QCOMPARE(image.pixelColor(150, 40), QColor(Qt::white));
        QCOMPARE(image.pixelColor(10, 140), QColor(Qt::white));
    }

    void AFailedAdaptionShowsTheManualControlsAgain() {
        Page p;
        p.registry.senseStatus.Value = 10.0f;  // too loud at every sensitivity
        p.Get<QPushButton>("1007")->click();
        QVERIFY(p.page->AdaptionRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!p.page->AdaptionRunning(), 90000);
        // 8, 7, 6, 5: the next step leaves the range; the last one tried stays in effect.
        QCOMPARE(p.driver.driver.senseState.CoarseRange, 5);
        QCOMPARE(p.driver.driver.senseState.PressThreshold, 5);
        QVERIFY(!p.driver.driver.storeDoSave.ConsumeCounted());
        QVERIFY(!p.driver.driver.outputState.Enable);
        auto* box = p.page->findChild<QMessageBox*>(QStringLiteral("AdaptionResult"));
        QVERIFY(box != nullptr);
        QVERIFY(box->text().startsWith(QStringLiteral("Auto adaption failure!")));
        QVERIFY(p.Get<QWidget>("1006")->isVisible());
        QVERIFY(p.Get<QWidget>("1006")->isEnabled());
        QVERIFY(p.Get<QPushButton>("1012")->isEnabled());
        QVERIFY(p.page->findChild<QDialog*>(QStringLiteral("AdaptionProgress")) == nullptr ||
                !p.page->findChild<QDialog*>(QStringLiteral("AdaptionProgress"))->isVisible());
    }

    void AutoAdaptionRunsWithoutBlockingAndEndsWithOutputOn() {
        Page p;
        p.registry.senseStatus.Value = 4.0f;  // just below the threshold at sensitivity 8
        int calibrations = 0;
        p.page->SetCalibrationRunner([&] {
            ++calibrations;
            return true;
        });
        p.Get<QPushButton>("1012")->click();
        p.Get<QPushButton>("1007")->click();
        // The handler returns at once: the search goes on from the event loop.
        QVERIFY(p.page->AdaptionRunning());
        auto* progress = p.page->findChild<QDialog*>(QStringLiteral("AdaptionProgress"));
        QVERIFY(progress != nullptr && progress->isVisible());
        QCOMPARE(progress->findChild<QLabel*>(QStringLiteral("1057"))->text(),
                 QStringLiteral("Note: Do not touch the Touch Panel"));
        QCOMPARE(progress->findChild<QProgressBar*>(QStringLiteral("1011"))->maximum(), 100);
        QVERIFY(!p.Get<QPushButton>("1012")->isEnabled());
        QVERIFY(!p.Get<QPushButton>("1007")->isEnabled());
        QVERIFY(!p.Get<QWidget>("1006")->isVisible());
        QCOMPARE(p.driver.driver.senseState.CoarseRange, 8);
        QCOMPARE(p.driver.driver.senseState.PressThreshold, 5);

        QTRY_VERIFY_WITH_TIMEOUT(!p.page->AdaptionRunning(), 60000);
        QCOMPARE(calibrations, 1);
        QCOMPARE(p.driver.link.received.back(), std::string("Store/DoSave"));
        QCOMPARE(p.driver.link.received[p.driver.link.received.size() - 2],
                 std::string("Output/State"));
        QVERIFY(p.driver.driver.outputState.Enable);
        QVERIFY(p.driver.driver.storeDoSave.ConsumeCounted());
        auto* box = p.page->findChild<QMessageBox*>(QStringLiteral("AdaptionResult"));
        QVERIFY(box != nullptr);
        QCOMPARE(box->text(), QStringLiteral("Successfully adaption!"));
        QVERIFY(p.Get<QPushButton>("1012")->isEnabled());
        QCOMPARE(p.page->Sensitivity(), 8);
        QCOMPARE(p.Get<QSlider>("1006")->value(), 8);
    }

    void WithoutDriverOrBoardAutoAndCalibrationSaySoAtOnce() {
        // {answered, board, the link line, what the refusal adds}
        const std::tuple<bool, bool, const char*, const char*> cases[] = {
            {true, false, "No sensor board connected", "USB cable"},
            {false, true, "No driver answering", "start the driver"},
        };
        for (const auto& [answered, board, link, says] : cases) {
            Page p(board, answered);
            bool calibrated = false;
            p.page->SetCalibrationRunner([&calibrated] { return calibrated = true; });
            p.page->Refresh();
            QCOMPARE(p.Get<QLabel>("LinkState")->text(), QString::fromUtf8(link));
            p.Get<QPushButton>("1012")->click();  // "Manual" shows "Calibration"
            p.Get<QPushButton>("1023")->click();
            p.Get<QPushButton>("1007")->click();
            QVERIFY(!calibrated && !p.page->AdaptionRunning());
            QCOMPARE(p.messages.size(), size_t{2});
            QVERIFY2(p.messages[0].startsWith(QString::fromUtf8(link)) &&
                         p.messages[0].contains(QString::fromUtf8(says)),
                     qPrintable(p.messages[0]));
        }
        Page good;
        good.page->Refresh();
        QCOMPARE(good.Get<QLabel>("LinkState")->text(),
                 QStringLiteral("Sensor board connected, 100 frames per second"));
    }

    // Another user's program on the driver's port is named, never taken for our driver.
    void AnotherUsersProgramOnTheDriversPortIsNamed() {
        Page p(true, false);
        DriverView view(p.registry);
        view.SetPortHolder(11249, [] { return std::optional<uint32_t>(4242); });
        Kelvarin_Basic page(view);
        page.Refresh();
        QCOMPARE(page.findChild<QLabel*>(QStringLiteral("LinkState"))->text(),
                 QStringLiteral("No driver of yours answering: port 11249 is held by uid 4242"));
    }
};

QTEST_MAIN(BasicPageTest)
#include "basic_page_test.moc"
