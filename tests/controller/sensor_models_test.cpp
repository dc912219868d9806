// The sensor model table and SetModel: what a chosen model makes the Controller send.
#include "controller/models/sensor_models.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/registry.h"
#include "tests/support/delivering_transport.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"

namespace kv::controller {
namespace {

TEST(SensorModels, TableGivesEachModelItsLayout) {
    const std::vector<std::string> order = {"S16", "S24", "S32", "S40", "S64", "S128",
                                            "B16", "B24", "B32", "B40", "B64", "B128"};
    ASSERT_EQ(kSensorModels.size(), order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(kSensorModels[i].name, order[i]);
        const SensorLayout& layout = kSensorModels[i].layout;
        EXPECT_EQ(layout.muxSize, 2 * layout.split0 + layout.split1) << order[i];
        EXPECT_EQ(layout.flip0, 0);
        EXPECT_EQ(layout.flip1, 0);
        EXPECT_EQ(layout.flip2, 1);
    }
    const SensorLayout b128 = LayoutOfModelCode(49);
    EXPECT_EQ(b128.split0, 40);
    EXPECT_EQ(b128.split1, 48);
    EXPECT_EQ(b128.muxSize, 128);
    const SensorLayout b64 = LayoutOfModelCode(FindSensorModel("B64")->code);
    EXPECT_EQ(b64.split0, 12);
    EXPECT_EQ(b64.split1, 40);
    const SensorLayout b24 = LayoutOfModelCode(5);
    EXPECT_EQ(b24.split0, 4);
    EXPECT_EQ(b24.split1, 16);

    // S16 and B16 are different codes with one layout.
    const SensorModel* s16 = FindSensorModel("S16");
    const SensorModel* b16 = FindSensorModel("B16");
    ASSERT_NE(s16, nullptr);
    ASSERT_NE(b16, nullptr);
    EXPECT_EQ(s16->code, 2);
    EXPECT_EQ(b16->code, 3);
    for (const int32_t code : {s16->code, b16->code}) {
        EXPECT_EQ(LayoutOfModelCode(code).split0, 4);
        EXPECT_EQ(LayoutOfModelCode(code).split1, 8);
        EXPECT_EQ(LayoutOfModelCode(code).muxSize, 16);
    }

    for (const int32_t unknown : {0, 1, 8, 50, -1, 1 << 30}) {
        const SensorLayout other = LayoutOfModelCode(unknown);
        EXPECT_EQ(other.split0, 20) << unknown;
        EXPECT_EQ(other.split1, 24) << unknown;
        EXPECT_EQ(other.muxSize, 64) << unknown;
        EXPECT_EQ(other.flip2, 1) << unknown;
    }
    EXPECT_EQ(FindSensorModel("s16"), nullptr);
    EXPECT_NE(FindSensorModel(kDefaultSensorModel), nullptr);
}

// The frames SetModel sends, delivered to a driver's registry: the split layout, then the
// channel count, then a save request, so the driver writes the model into DRIVER.INI.
TEST(SensorModels, SetModelSendsLayoutChannelCountAndSave) {
    test::FakeClock clock;
    test::FrameLog toDriver;
    Registry controller(ProgramRole::Controller, clock);
    controller.SetTransport(&toDriver);
    Registry driver(ProgramRole::Driver, clock);
    driver.splitState.Flip2 = 0;
    DriverView view(controller);
    test::DeliverAll(driver, controller);

    SetModel(view, FindSensorModel("B128")->code);

    ASSERT_EQ(toDriver.frames.size(), 3u);
    std::vector<DataManipulation*> arrived;
    for (const test::Bytes& frame : toDriver.frames) {
        const DeliverResult result =
            driver.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
        EXPECT_TRUE(result.parsed);
        arrived.push_back(result.record);
    }
    EXPECT_EQ(arrived, (std::vector<DataManipulation*>{&driver.splitState, &driver.commsReqState,
                                                       &driver.storeDoSave}));
    EXPECT_EQ(driver.splitState.Split0, 40);
    EXPECT_EQ(driver.splitState.Split1, 48);
    EXPECT_EQ(driver.splitState.Flip0, 0);
    EXPECT_EQ(driver.splitState.Flip1, 0);
    EXPECT_EQ(driver.splitState.Flip2, 1);
    EXPECT_EQ(driver.commsReqState.MuxSize, 128);
    EXPECT_TRUE(driver.storeDoSave.ConsumeCounted());

    // A second model is a second save request, not a repeat of the first.
    SetModel(view, 77);
    for (size_t i = 3; i < toDriver.frames.size(); ++i) {
        driver.Deliver(toDriver.frames[i].data(), 0,
                       static_cast<int32_t>(toDriver.frames[i].size()));
    }
    EXPECT_EQ(driver.splitState.Split0, 20);
    EXPECT_EQ(driver.splitState.Split1, 24);
    EXPECT_EQ(driver.commsReqState.MuxSize, 64);
    EXPECT_TRUE(driver.storeDoSave.ConsumeCounted());
}

}  // namespace
}  // namespace kv::controller
