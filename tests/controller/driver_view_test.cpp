// The Controller's view of the driver on a fake clock: a setting waits for the driver's copy of
// its record and goes onto it, changes keep their order, a publish-all in flight neither undoes
// a change nor swallows its save, and "answering" means heard within the last 5 s.
#include "controller/driver_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/sensor_models.h"
#include "tests/support/delivering_transport.h"
#include "tests/support/fake_clock.h"

namespace kv::controller {
namespace {

struct Link {
    test::FakeClock clock;
    Registry controller{ProgramRole::Controller, clock};
    Registry driver{ProgramRole::Driver, clock};
    test::DeliveringTransport toDriver{driver};
    DriverView view{controller};
    int hellos = 0;
    Link() {
        controller.SetTransport(&toDriver);
        view.SetHello([this] { ++hellos; });
    }
};

TEST(DriverView, ChangesWaitForTheDriversRecordsAndGoOntoThemInOrder) {
    Link l;
    l.driver.calibState.Angle = 1;  // a portrait kiosk, calibrated rotated
    l.driver.splitState.Split0 = 4;
    CalibrationState& calib = l.controller.calibState;
    l.view.Change(calib, [&calib] {
        calib.exclude_edge_flag = 2;
        calib.exclude_edge_left = 0.5f;
        return true;
    });
    SetModel(l.view, 49);  // B128
    // Shown at once, sent only once the driver's copies are in.
    EXPECT_EQ(calib.exclude_edge_flag, 2);
    l.view.Poll();
    EXPECT_TRUE(l.toDriver.received.empty());
    EXPECT_EQ(l.view.Waiting(), 3u);

    test::DeliverAll(l.driver, l.controller);
    l.view.Poll();
    EXPECT_EQ(l.toDriver.received, (std::vector<std::string>{"Calib/State", "Split/State",
                                                             "Comms/ReqState", "Store/DoSave"}));
    EXPECT_EQ(l.driver.calibState.Angle, 1);
    EXPECT_EQ(l.driver.calibState.exclude_edge_flag, 2);
    EXPECT_EQ(l.driver.splitState.Split0, 40);
    EXPECT_EQ(l.driver.commsReqState.MuxSize, 128);
    EXPECT_EQ(l.view.Waiting(), 0u);

    // Known now: a change that changes nothing is not sent.
    l.toDriver.received.clear();
    l.view.Change(calib, [] { return false; });
    EXPECT_TRUE(l.toDriver.received.empty());
}

TEST(DriverView, APublishAllInFlightDoesNotUndoAChangeNorItsSave) {
    Link l;
    test::DeliverAll(l.driver, l.controller);
    SenceState& sense = l.controller.senseState;
    // The user's change reaches the driver and is saved...
    l.view.Change(sense, [&sense] {
        sense.CoarseRange = 20;
        return true;
    });
    ASSERT_TRUE(l.driver.storeDoSave.ConsumeCounted());
    // ...while a publish-all sent before it brings the older values back, the save request's
    // number included.
    l.controller.ForgetArrivals();  // the hello that asked for it
    Registry before(ProgramRole::Driver, l.clock);
    test::DeliverAll(before, l.controller);
    EXPECT_EQ(l.controller.senseState.CoarseRange, before.senseState.CoarseRange);
    // The next save is a new number to the driver, not one it has handled.
    l.view.Change(sense, [&sense] {
        sense.PressThreshold = 9;
        return true;
    });
    EXPECT_TRUE(l.driver.storeDoSave.ConsumeCounted());
}

TEST(DriverView, AChangeWaitingOnADriverThatAnswersAsksForItsRecordsNowAndThen) {
    Link l;
    OutputState& output = l.controller.outputState;
    l.view.Change(output, [&output] {
        output.Enable = true;
        return true;
    });
    for (int ms = 0; ms < kDriverViewWaitMs + kDriverViewHelloGapMs; ms += kDriverViewPollMs) {
        l.clock.Advance(kDriverViewPollMs);
        l.controller.MarkPeerHeard();
        l.view.Poll();
    }
    EXPECT_EQ(l.hellos, 2);
    EXPECT_TRUE(l.toDriver.received.empty());
}

}  // namespace
}  // namespace kv::controller
