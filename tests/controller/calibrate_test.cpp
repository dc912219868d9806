// The calibration dialog: its step machine stepped tick by tick against a scripted driver, and
// the window on the offscreen platform (buttons, captions, closing, the region panel).
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <vector>

#include "controller/models/calibration_steps.h"
#include "controller/widgets/calibrate_dialog.h"
#include "controller/widgets/main_dialog.h"
#include "tests/support/delivering_transport.h"

using namespace kv;
using namespace kv::controller;

namespace {

// The driver's side of a capture, acting directly on the Controller's copy of the records as
// the network would leave them: it acknowledges Calib events, starts a capture at the top-left
// corner and moves from corner to corner when told.
struct ScriptedDriver {
    Registry& r;
    int starts = 0;
    int stops = 0;

    void Poll() {
        if (r.calibDoStart.header.eventValid == 1) {
            r.calibDoStart.header.eventValid = 0;
            if (!r.calibState.Active) {
                ++starts;
                r.calibState.Active = true;
                Activate(r.calibRefTL);
            }
        }
        if (r.calibDoStop.header.eventValid == 1) {
            r.calibDoStop.header.eventValid = 0;
            ++stops;
            r.calibState.Active = false;
        }
    }
    void Activate(CalibrationData& ref) {
        for (CalibrationData* other : {&r.calibRefTL, &r.calibRefTR, &r.calibRefBL}) {
            other->RefFlag0 = false;
        }
        ref.RefFlag0 = true;
        ref.RefValue = 0;
    }
    void Complete() {
        Activate(r.calibRefTL);
        r.calibState.Active = false;
        r.calibDoComplete.header.eventValid = 1;
    }
};

// Ticks (with the driver answering between ticks) until a target is shown; returns its corner.
Corner TickUntilTarget(CalibrationSteps& steps, ScriptedDriver& driver, int limit = 20) {
    for (int i = 0; i < limit; ++i) {
        driver.Poll();
        steps.Tick();
        if (steps.Target().corner != Corner::None) {
            return steps.Target().corner;
        }
    }
    return Corner::None;
}

void TickUntilTargetIn(CalibrateDlg& dialog, ScriptedDriver& driver, int limit = 20) {
    for (int i = 0; i < limit && dialog.Steps().Target().corner == Corner::None; ++i) {
        driver.Poll();
        dialog.Tick();
    }
}

template <class T>
T* Child(QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) {
        qFatal("no control %s", name);
    }
    return child;
}

// A shown dialog on the Controller's registry, with the scripted driver behind it, ticked until
// the first target is up.
struct DialogAtFirstTarget {
    DialogAtFirstTarget() {
        dialog.show();
        TickUntilTargetIn(dialog, driver);
    }
    Registry reg{ProgramRole::Controller};
    CalibrateDlg dialog{reg};
    ScriptedDriver driver{reg};
};

}  // namespace

class CalibrateTest : public QObject {
    Q_OBJECT
private slots:
    // A monitor's share of the desktop (a third here, not whole percent): the targets sit 10 %
    // into that rectangle exactly where the driver's regional mapping puts them, and the
    // dialog covers the monitor with them inside.
    void targetsOnAMonitorSitExactlyInItsRegion() {
        Registry reg(ProgramRole::Controller);
        reg.calibState.exclude_edge_flag = 2;
        reg.calibState.exclude_edge_left = 1.0f / 3.0f;
        reg.calibState.exclude_edge_right = 1.0f;
        {
            CalibrationSteps steps(reg, 3000, 800);
            ScriptedDriver driver{reg};
            QCOMPARE(TickUntilTarget(steps, driver), Corner::TopLeft);
            QVERIFY(qAbs(steps.Target().x - 1200.0) < 0.01);
            QCOMPARE(steps.Target().y, 80.0);
            driver.Activate(reg.calibRefTR);
            QCOMPARE(TickUntilTarget(steps, driver), Corner::TopRight);
            QVERIFY(qAbs(steps.Target().x - 2800.0) < 0.01);
        }
        // The right half of a desktop of two monitors; the dialog on that half only.
        reg.calibState.exclude_edge_left = 0.5f;
        CalibrateDlg dialog(reg, QRect(0, 0, 1600, 600), QRect(800, 0, 800, 600));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.geometry().size(), QSize(800, 600));
        ScriptedDriver driver{reg};
        TickUntilTargetIn(dialog, driver);
        QCOMPARE(dialog.Steps().Target().corner, Corner::TopLeft);
        QCOMPARE(dialog.Steps().Target().x, 880.0);
        const QPointF target = dialog.TargetInWindow();
        QCOMPARE(target, QPointF(dialog.mapFromGlobal(QPoint(880, 60))));
        QVERIFY(dialog.rect().contains(target.toPoint()));
    }

    // The corners come in the driver's order TL, TR, BL, each 10 % in from the screen edges
    // in mode 0, with the driver's progress; completion ends the machine as completed.
    void cornersFollowTheDriverAndCompletionEnds() {
        Registry reg(ProgramRole::Controller);
        reg.calibState.exclude_edge_flag = 0;
        CalibrationSteps steps(reg, 1000, 800);
        ScriptedDriver driver{reg};

        QCOMPARE(TickUntilTarget(steps, driver), Corner::TopLeft);
        QCOMPARE(driver.starts, 1);
        QCOMPARE(steps.Target().x, 100.0);
        QCOMPARE(steps.Target().y, 80.0);
        QVERIFY(steps.HintShown());
        QVERIFY(steps.AdvancedEnabled());
        reg.calibRefTL.RefValue = 40;
        steps.Tick();
        QCOMPARE(steps.Target().progress, 40);

        driver.Activate(reg.calibRefTR);
        QCOMPARE(TickUntilTarget(steps, driver), Corner::TopRight);
        QCOMPARE(steps.Target().x, 900.0);
        QCOMPARE(steps.Target().y, 80.0);
        QCOMPARE(driver.starts, 1);  // the capture went on; no second one began
        QVERIFY(!steps.AdvancedEnabled());

        driver.Activate(reg.calibRefBL);
        QCOMPARE(TickUntilTarget(steps, driver), Corner::BottomLeft);
        QCOMPARE(steps.Target().x, 100.0);
        QCOMPARE(steps.Target().y, 720.0);

        driver.Complete();
        QVERIFY(steps.Tick());
        QCOMPARE(reg.calibDoComplete.header.eventValid.Load(), 0);  // consumed
        QVERIFY(steps.Completed());
        QVERIFY(!steps.HintShown());
        QVERIFY(!steps.Tick());  // closes on the tick after completion
        QCOMPARE(driver.stops, 0);
    }

    // With modes 1 and 2 the targets sit 10 % inside the slider rectangle; the sliders are
    // kept at least 5 % apart and the region reaches the Calib State record as fractions.
    void regionModesPlaceTargetsInsideTheSliderRectangle() {
        for (int mode : {1, 2}) {
            Registry reg(ProgramRole::Controller);
            reg.calibState.exclude_edge_flag = mode;
            reg.calibState.exclude_edge_left = 0.2f;
            reg.calibState.exclude_edge_top = 0.1f;
            reg.calibState.exclude_edge_right = 0.7f;
            reg.calibState.exclude_edge_bottom = 0.6f;
            CalibrationSteps steps(reg, 1000, 800);
            ScriptedDriver driver{reg};
            // Area (200, 80) - (700, 480): dx 50, dy 40.
            QCOMPARE(TickUntilTarget(steps, driver), Corner::TopLeft);
            QCOMPARE(steps.Target().x, 250.0);
            QCOMPARE(steps.Target().y, 120.0);
            driver.Activate(reg.calibRefTR);
            QCOMPARE(TickUntilTarget(steps, driver), Corner::TopRight);
            QCOMPARE(steps.Target().x, 650.0);
            QCOMPARE(steps.Target().y, 120.0);
            driver.Activate(reg.calibRefBL);
            QCOMPARE(TickUntilTarget(steps, driver), Corner::BottomLeft);
            QCOMPARE(steps.Target().x, 250.0);
            QCOMPARE(steps.Target().y, 440.0);
        }

        Registry reg(ProgramRole::Controller);
        Registry driverSide(ProgramRole::Driver);
        kv::test::DeliveringTransport wire(driverSide);
        reg.SetTransport(&wire);
        CalibrationSteps steps(reg, 1000, 800);
        steps.SetRegion({80, 3, 50, 2});  // left past right, top past bottom
        steps.Tick();
        QCOMPARE(steps.Region(), (RegionPercent{45, 0, 50, 5}));
        QCOMPARE(reg.calibState.exclude_edge_left, 0.45f);
        QCOMPARE(reg.calibState.exclude_edge_top, 0.0f);
        QCOMPARE(reg.calibState.exclude_edge_right, 0.5f);
        QCOMPARE(reg.calibState.exclude_edge_bottom, 0.05f);
        QCOMPARE(wire.Count(driverSide.calibState), 1);
        steps.Tick();  // unchanged: not published again
        QCOMPARE(wire.Count(driverSide.calibState), 1);
    }

    // While the region panel is open every tick raises DoStop and no capture is asked for;
    // "Save" closes the panel, saves, and the capture request follows.
    void openPanelKeepsStoppingTheCapture() {
        Registry reg(ProgramRole::Controller);
        CalibrationSteps steps(reg, 1000, 800);
        ScriptedDriver driver{reg};
        steps.PressAdvanced();
        QVERIFY(steps.PanelOpen());
        for (int i = 0; i < 5; ++i) {
            driver.Poll();
            QVERIFY(steps.Tick());
            QCOMPARE(reg.calibDoStop.header.eventValid.Load(), 1);
            QCOMPARE(reg.calibDoStart.header.eventValid.Load(), 0);
            QCOMPARE(steps.Target().corner, Corner::None);
        }
        driver.Poll();
        QCOMPARE(driver.stops, 5);
        const int32_t saves = reg.storeDoSave.header.sequence;
        steps.PressCancel();  // "Save"
        QVERIFY(!steps.PanelOpen());
        QVERIFY(steps.Running());
        QCOMPARE(reg.storeDoSave.header.sequence.Load(), saves + 1);
        steps.Tick();
        QCOMPARE(reg.calibDoStart.header.eventValid.Load(), 1);
        QCOMPARE(reg.calibDoStop.header.eventValid.Load(), 0);
    }

    // The window: "Advanced..." opens the panel and turns the buttons into "Mode Switch" and
    // "Save"; three mode switches go 1, 2, 0, publish Calib State and save each time, and the
    // caption follows.
    void modeSwitchCyclesThroughTheModesAndSavesEachTime() {
        Registry reg(ProgramRole::Controller);
        Registry driverSide(ProgramRole::Driver);
        kv::test::DeliveringTransport wire(driverSide);
        reg.SetTransport(&wire);
        CalibrateDlg dialog(reg);
        dialog.show();
        auto* advanced = Child<QPushButton>(dialog, "1029");
        auto* cancel = Child<QPushButton>(dialog, "1028");
        auto* caption = Child<QLabel>(dialog, "1066");
        auto* panel = Child<QWidget>(dialog, "1030");
        QCOMPARE(advanced->text(), QStringLiteral("Advanced..."));
        QCOMPARE(advanced->accessibleName(), QStringLiteral("Advanced..."));
        QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
        QCOMPARE(caption->text(), QStringLiteral("MODE: Regional Touch(Full Screen)"));
        QVERIFY(!panel->isVisible());

        QTest::mouseClick(advanced, Qt::LeftButton);
        QVERIFY(panel->isVisible());
        QCOMPARE(advanced->text(), QStringLiteral("Mode Switch"));
        QCOMPARE(cancel->text(), QStringLiteral("Save"));
        QCOMPARE(cancel->accessibleName(), QStringLiteral("Save"));

        const QStringList captions = {QStringLiteral("MODE: Small Vyren drive Big Screen"),
                                      QStringLiteral("MODE: Regional Touch (Small Vyren)"),
                                      QStringLiteral("MODE: Regional Touch(Full Screen)")};
        const int32_t saves = reg.storeDoSave.header.sequence;
        for (int i = 0; i < 3; ++i) {
            QTest::mouseClick(advanced, Qt::LeftButton);
            QCOMPARE(reg.calibState.exclude_edge_flag, (i + 1) % 3);
            QCOMPARE(driverSide.calibState.exclude_edge_flag, (i + 1) % 3);
            QCOMPARE(wire.Count(driverSide.calibState), i + 1);
            QCOMPARE(reg.storeDoSave.header.sequence.Load(), saves + i + 1);
            QCOMPARE(caption->text(), captions[i]);
        }

        // The sliders are kept consistent in the window too.
        auto* left = Child<QSlider>(dialog, "1006");
        auto* right = Child<QSlider>(dialog, "1027");
        right->setValue(30);
        left->setValue(60);
        dialog.Tick();
        QCOMPARE(left->value(), 25);
        QCOMPARE(right->value(), 30);

        QTest::mouseClick(cancel, Qt::LeftButton);  // "Save"
        QVERIFY(!panel->isVisible());
        QVERIFY(dialog.isVisible());
        QCOMPARE(advanced->text(), QStringLiteral("Advanced..."));
        QCOMPARE(reg.storeDoSave.header.sequence.Load(), saves + 4);
    }

    // "Cancel" during the second corner raises DoStop and closes the dialog at once; the
    // "Advanced..." button is disabled from the second corner on.
    void cancelDuringTheSecondCornerStopsTheCapture() {
        DialogAtFirstTarget at;
        QCOMPARE(at.dialog.Steps().Target().corner, Corner::TopLeft);
        auto* hint = Child<QLabel>(at.dialog, "1065");
        QCOMPARE(hint->text(), QStringLiteral("Press and Hold here"));
        at.driver.Activate(at.reg.calibRefTR);
        at.dialog.Tick();  // the corner is done: no target until the next one is picked
        TickUntilTargetIn(at.dialog, at.driver);
        QCOMPARE(at.dialog.Steps().Target().corner, Corner::TopRight);
        QVERIFY(!Child<QPushButton>(at.dialog, "1029")->isEnabled());
        // The hint sits beside the target.
        const QPointF target = at.dialog.TargetInWindow();
        QVERIFY(qAbs(hint->geometry().center().y() - target.y()) <= hint->height());

        QTest::mouseClick(Child<QPushButton>(at.dialog, "1028"), Qt::LeftButton);
        QCOMPARE(at.reg.calibDoStop.header.eventValid.Load(), 1);
        QVERIFY(!at.dialog.isVisible());
        QCOMPARE(at.dialog.result(), int(QDialog::Rejected));
        QCOMPARE(hint->text(), QString());
    }

    // The target is drawn where the machine puts it, and its inner ring grows with the
    // driver's progress at that corner.
    void targetIsDrawnAndGrowsWithProgress() {
        DialogAtFirstTarget at;
        QCOMPARE(at.dialog.Steps().Target().corner, Corner::TopLeft);
        const QPoint centre = at.dialog.TargetInWindow().toPoint();
        // The inner ring's red circle: the first red pixel out from the centre along the
        // diagonal (clear of the cross).
        const auto innerRadius = [&] {
            const QImage image = at.dialog.grab().toImage();
            for (int d = 1; d < 60; ++d) {
                const QColor c = image.pixelColor(centre.x() + d, centre.y() + d);
                if (c.red() > 120 && c.green() < 100 && c.blue() < 100) {
                    return d * 1.4142;
                }
            }
            return 0.0;
        };
        const double small = innerRadius();
        QVERIFY2(small > 5 && small < 15, qPrintable(QString::number(small)));
        at.reg.calibRefTL.RefValue = 60;  // inner ring from 20 to 44 pixels across
        at.dialog.Tick();
        QCOMPARE(at.dialog.Steps().Target().progress, 60);
        const double grown = innerRadius();
        QVERIFY2(grown > 17 && grown < 27, qPrintable(QString::number(grown)));
    }

    // DoComplete from the driver closes the dialog, and the entry point reports success.
    void completionClosesTheDialog() {
        Registry reg(ProgramRole::Controller);
        {
            CalibrateDlg dialog(reg);
            dialog.show();
            reg.calibDoComplete.header.eventValid = 1;
            dialog.Tick();
            QVERIFY(dialog.isVisible());  // closes on the following tick
            dialog.Tick();
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }

        // The real 50 ms timer, from the modal entry point the Setting page uses.
        DialogContext context(reg);
        QTimer::singleShot(200, [&reg] { reg.calibDoComplete.header.eventValid = 1; });
        // Should the dialog not close by itself, end it so the test fails instead of hanging.
        QTimer::singleShot(30000, [] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* d = qobject_cast<QDialog*>(w); d != nullptr && d->isVisible()) {
                    d->done(QDialog::Rejected);
                }
            }
        });
        QCOMPARE(RunCalibration(context, nullptr), int(QDialog::Accepted));
    }

    // With the Chinese texts loaded the buttons, hint and captions are in Chinese.
    void chineseTexts() {
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(KV_CONTROLLER_QM)));
        QCoreApplication::installTranslator(&translator);
        Registry reg(ProgramRole::Controller);
        reg.calibState.exclude_edge_flag = 1;
        CalibrateDlg dialog(reg);
        ScriptedDriver driver{reg};
        TickUntilTargetIn(dialog, driver);
        QCOMPARE(Child<QPushButton>(dialog, "1029")->text(), QStringLiteral("高级设置"));
        QCOMPARE(Child<QPushButton>(dialog, "1028")->text(), QStringLiteral("退出"));
        QCOMPARE(Child<QLabel>(dialog, "1065")->text(), QStringLiteral("手指在这里压下并保持"));
        QCOMPARE(Child<QLabel>(dialog, "1066")->text(), QStringLiteral("模式：小膜带大屏"));
        QTest::mouseClick(Child<QPushButton>(dialog, "1029"), Qt::LeftButton);
        QCOMPARE(Child<QPushButton>(dialog, "1029")->text(), QStringLiteral("模式切换"));
        QCOMPARE(Child<QPushButton>(dialog, "1028")->text(), QStringLiteral("保存"));
        QCoreApplication::removeTranslator(&translator);
    }
};

QTEST_MAIN(CalibrateTest)
#include "calibrate_test.moc"
