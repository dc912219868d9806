// The Advanced Setting dialog on the offscreen platform: the non-standard layout rule and its
// validation, the two program options written to CONTROLLER.INI, and the Controller's
// autostart entry made and removed.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "controller/models/profile_file.h"
#include "controller/platform/autostart.h"
#include "controller/widgets/adv_setting_dialog.h"
#include "controller/widgets/main_dialog.h"

#include "tests/controller/driver_side.h"

using namespace kv;
using namespace kv::controller;

namespace {

using kv::controller::test::LinkedRegistries;
using kv::controller::test::Sent;

}  // namespace

class AdvSettingTest : public QObject {
    Q_OBJECT

private:
    struct Dialog : LinkedRegistries {
        QTemporaryDir folder;
        ProfileFile profile;
        DialogContext context{registry};
        DriverView view{registry};
        std::unique_ptr<Kelvarin_AdvSetting> dialog;
        QStringList messages;

        Dialog() : profile((folder.path() + QStringLiteral("/CONTROLLER.INI")).toStdString()) {
            profile.CreateWithDefaults();
            driver.driver.splitState.Split0 = 12;
            driver.driver.splitState.Split1 = 40;
            DriverAnswers();
            context.driver = &view;
            context.profile = &profile;
            dialog = std::make_unique<Kelvarin_AdvSetting>(context);
            dialog->SetMessageShower([this](const QString& text) { messages << text; });
            dialog->show();
        }
        template <class W>
        W* Get(const char* id) {
            return dialog->findChild<W*>(QString::fromLatin1(id));
        }
        void Enter(int x, int y) {
            Get<QLineEdit>("1045")->setText(QString::number(x));
            Get<QLineEdit>("1046")->setText(QString::number(y));
        }
        void Save() { QTest::mouseClick(Get<QPushButton>("1003"), Qt::LeftButton); }
    };

private slots:
    void ControlsCarryTheirIdentifiersAndTexts() {
        Dialog d;
        QCOMPARE(d.dialog->windowTitle(), QStringLiteral("Kelvarin Vyren - Advanced Setting"));
        QCOMPARE(d.Get<QCheckBox>("1001")->accessibleName(), QStringLiteral("Show sensor index"));
        QCOMPARE(d.Get<QCheckBox>("1064")->accessibleName(),
                 QStringLiteral("Controller Boot with OS"));
        QCOMPARE(d.Get<QPushButton>("1003")->text(), QStringLiteral("Save"));
        QCOMPARE(d.Get<QPushButton>("1")->text(), QStringLiteral("OK"));
        // The edits start from the layout the driver published: X is twice Split0.
        QCOMPARE(d.Get<QLineEdit>("1045")->text(), QStringLiteral("24"));
        QCOMPARE(d.Get<QLineEdit>("1046")->text(), QStringLiteral("40"));
    }

    void SaveSendsTheLayoutThenTheSaveRequest() {
        Dialog d;
        d.Enter(40, 24);
        d.Save();
        QVERIFY(d.messages.isEmpty());
        QCOMPARE(d.driver.link.received, (Sent{"Split/State", "Comms/ReqState", "Store/DoSave"}));
        const Split& split = d.driver.driver.splitState;
        QCOMPARE(split.Split0, 20);
        QCOMPARE(split.Split1, 24);
        QCOMPARE(split.Flip0, 0);
        QCOMPARE(split.Flip1, 0);
        QCOMPARE(split.Flip2, 1);
        QCOMPARE(d.driver.driver.commsReqState.MuxSize, 64);

        // An odd X: the first segment takes the smaller half, the frame all of them.
        d.driver.link.received.clear();
        d.Enter(41, 23);
        d.Save();
        QCOMPARE(d.driver.link.received, (Sent{"Split/State", "Comms/ReqState", "Store/DoSave"}));
        QCOMPARE(d.driver.driver.splitState.Split0, 20);
        QCOMPARE(d.driver.driver.commsReqState.MuxSize, 64);
    }

    void CountsOutside8To80FailValidationAndSendNothing() {
        Dialog d;
        const QString message = QStringLiteral("Please enter an integer between 8 and 80.");
        for (auto [x, y] :
             {std::pair{7, 24}, std::pair{81, 24}, std::pair{40, 7}, std::pair{40, 81}}) {
            d.Enter(x, y);
            d.Save();
            QCOMPARE(d.messages, QStringList{message});
            QVERIFY(d.driver.link.received.empty());
            d.messages.clear();
        }
        for (const char* text : {"", "abc", "4O", "12.5"}) {
            d.Get<QLineEdit>("1045")->setText(QString::fromLatin1(text));
            d.Get<QLineEdit>("1046")->setText(QStringLiteral("24"));
            QVERIFY(!d.dialog->SaveLayout());
            QCOMPARE(d.messages, QStringList{message});
            d.messages.clear();
        }
        QVERIFY(d.driver.link.received.empty());
        // Totals the board never sends would stop the foil: refused, naming the valid ones.
        for (auto [x, y] :
             {std::pair{41, 24}, std::pair{80, 47}, std::pair{64, 65}, std::pair{80, 80}}) {
            d.Enter(x, y);
            QVERIFY(!d.dialog->SaveLayout());
            QCOMPARE(d.messages.size(), 1);
            QVERIFY(d.messages[0].contains(QStringLiteral("16 to 64")));
            d.messages.clear();
        }
        QVERIFY(d.driver.link.received.empty());
        // The limits themselves are accepted.
        for (auto [x, y, mux] :
             {std::tuple{8, 8, 16}, std::tuple{8, 56, 64}, std::tuple{80, 48, 128}}) {
            d.Enter(x, y);
            QVERIFY(d.dialog->SaveLayout());
            QCOMPARE(d.driver.driver.commsReqState.MuxSize, mux);
        }
    }

    void ShowSensorIndexIsWrittenAndAnnounced() {
        Dialog d;
        QSignalSpy changed(d.dialog.get(), &Kelvarin_AdvSetting::ShowIndexChanged);
        auto* box = d.Get<QCheckBox>("1001");
        QVERIFY(!box->isChecked());
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(d.profile.ReadString("GENERAL", "INDEX", ""), std::string("1"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), true);
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(d.profile.ReadString("GENERAL", "INDEX", ""), std::string("0"));
        QCOMPARE(changed.at(1).at(0).toBool(), false);
        QVERIFY(d.driver.link.received.empty());

        // A dialog opened later starts from what the file says; the start at login from
        // whether its autostart entry is there (there is none here), not from the file.
        qputenv("XDG_CONFIG_HOME", d.folder.path().toUtf8());
        d.profile.WriteString("GENERAL", "INDEX", "1");
        d.profile.WriteString("BOOT", "CONTROLLER", "1");
        Kelvarin_AdvSetting again(d.context);
        QVERIFY(again.findChild<QCheckBox*>(QStringLiteral("1001"))->isChecked());
        QVERIFY(!again.findChild<QCheckBox*>(QStringLiteral("1064"))->isChecked());
        qunsetenv("XDG_CONFIG_HOME");
    }

    void ControllerBootWritesTheFlagAndTheAutostartEntry() {
        Dialog d;
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", (d.folder.path() + QStringLiteral("/config")).toUtf8());
        const QString program = d.folder.path() + QStringLiteral("/my programs/Controller");
        d.dialog->SetProgramPath(program);
        auto* box = d.Get<QCheckBox>("1064");

        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(d.profile.ReadString("BOOT", "CONTROLLER", ""), std::string("1"));
        QVERIFY(HasAutostartEntry("Kelvarin_Controller"));
        std::ifstream in(d.folder.path().toStdString() +
                         "/config/autostart/Kelvarin_Controller.desktop");
        std::stringstream text;
        text << in.rdbuf();
        QVERIFY2(text.str().find("\nExec=\"" + program.toStdString() + "\"\n") != std::string::npos,
                 text.str().c_str());

        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(d.profile.ReadString("BOOT", "CONTROLLER", ""), std::string("0"));
        QVERIFY(!HasAutostartEntry("Kelvarin_Controller"));

        if (oldConfig.isNull()) {
            qunsetenv("XDG_CONFIG_HOME");
        } else {
            qputenv("XDG_CONFIG_HOME", oldConfig);
        }
    }

    void ChineseTextsAreTranslated() {
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(KV_ADVSETTING_QM)));
        QCoreApplication::installTranslator(&translator);
        {
            Dialog d;
            QCOMPARE(d.dialog->windowTitle(), QStringLiteral("Kelvarin Vyren - 高级设置"));
            QCOMPARE(d.Get<QCheckBox>("1001")->text(), QStringLiteral("显示传感器编号"));
            d.Enter(7, 24);
            d.Save();
            QCOMPARE(d.messages, QStringList{QStringLiteral("请输入 8 到 80 之间的整数。")});
        }
        QCoreApplication::removeTranslator(&translator);
    }
};

QTEST_MAIN(AdvSettingTest)
#include "adv_setting_test.moc"
