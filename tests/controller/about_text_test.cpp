// The About page text for the three layouts the page must tell apart, in English and, through
// the translation built from controller/lang/controller_zh_CN.ts, in Chinese.
#include "controller/models/about_text.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTranslator>

#include "protocol/registry.h"

namespace kv::controller {
namespace {

class AboutText : public ::testing::Test {
protected:
    // Split0, Split1, MuxSize as the driver last published them.
    void Layout(int32_t split0, int32_t split1, int32_t muxSize) {
        registry.splitState.Split0 = split0;
        registry.splitState.Split1 = split1;
        registry.commsReqState.MuxSize = muxSize;
    }

    int argc = 1;
    char name[16] = "about_text_test";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    Registry registry{ProgramRole::Controller};
};

const QString kEnglishProduct = QStringLiteral(
    "\nProduct: Kelvarin Vyren\nProduct version: 10.3.3\n"
    "Technical support: support@kelvarin.example\nManufacturer: Kelvarin Touch Systems\n"
    "Web site: https://kelvarin.example\n");

TEST_F(AboutText, EnglishLinesForEachLayout) {
    Layout(12, 40, 64);
    registry.commsActStatus.FramesLastPeriod = 213;
    registry.senseState.PressThreshold = 5;
    registry.senseState.CoarseRange = 11;
    EXPECT_EQ(BuildAboutText(registry, true),
              QStringLiteral("Load driver: Successfully! \n"
                             "Driver version: B64\n\n"
                             "Number of Sensors : 64 (X=24, Y=40) \n"
                             "Sampling rate : 213 \n"
                             "Threshold level: 5 \n"
                             "Sensitivity level : 11 \n") +
                  kEnglishProduct);

    // The layout shared by S16 and B16 names itself B16: 2 x 4 does not exceed 8.
    Layout(4, 8, 16);
    registry.commsActStatus.FramesLastPeriod = 0;
    registry.senseState.PressThreshold = -2;
    registry.senseState.CoarseRange = 30;
    EXPECT_EQ(BuildAboutText(registry, false), QStringLiteral("Load driver: Failure! \n"
                                                              "Driver version: B16\n\n"
                                                              "Number of Sensors : 16 (X=8, Y=8) \n"
                                                              "Sampling rate : 0 \n"
                                                              "Threshold level: -2 \n"
                                                              "Sensitivity level : 30 \n") +
                                                   kEnglishProduct);

    Layout(40, 48, 128);
    const QString s128 = BuildAboutText(registry, true);
    EXPECT_TRUE(
        s128.startsWith(QStringLiteral("Load driver: Successfully! \n"
                                       "Driver version: S128\n\n"
                                       "Number of Sensors : 128 (X=80, Y=48) \n")))
        << s128.toStdString();
    EXPECT_EQ(ModelName(20, 24, 64), QStringLiteral("S64"));
    EXPECT_EQ(ModelName(8, 8, 24), QStringLiteral("S24"));
    EXPECT_EQ(ModelName(4, 16, 24), QStringLiteral("B24"));
}

TEST_F(AboutText, ChineseLinesFromTheBuiltTranslation) {
    QTranslator chinese;
    ASSERT_TRUE(chinese.load(QStringLiteral(KV_ABOUT_QM)));
    ASSERT_TRUE(QCoreApplication::installTranslator(&chinese));

    Layout(12, 40, 64);
    registry.commsActStatus.FramesLastPeriod = 213;
    registry.senseState.PressThreshold = 5;
    registry.senseState.CoarseRange = 11;
    const QString text = BuildAboutText(registry, true);
    EXPECT_TRUE(
        text.startsWith(QStringLiteral("加载驱动：成功！ \n"
                                       "驱动版本： B64\n\n"
                                       "传感器数量： 64 (X=24, Y=40) \n"
                                       "扫描速率： 213  \n"
                                       "阈值： 5 \n"
                                       "灵敏度： 11 \n\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("10.3.3")));
    EXPECT_TRUE(text.contains(QStringLiteral("技术支持")));
    EXPECT_FALSE(text.contains(QStringLiteral("Product")));

    Layout(4, 8, 16);
    EXPECT_TRUE(BuildAboutText(registry, false)
                    .startsWith(QStringLiteral("加载驱动：失败！ \n驱动版本： B16\n\n"
                                               "传感器数量： 16 (X=8, Y=8) \n")));
    Layout(40, 48, 128);
    EXPECT_TRUE(BuildAboutText(registry, true)
                    .startsWith(QStringLiteral("加载驱动：成功！ \n驱动版本： S128\n\n"
                                               "传感器数量： 128 (X=80, Y=48) \n")));
    EXPECT_EQ(AboutProductBlock().count(QLatin1Char('\n')), 6);
    QCoreApplication::removeTranslator(&chinese);
}

}  // namespace
}  // namespace kv::controller
