// The Controller's view of the driver on a fake clock: changes wait for the driver's records
// and keep their order, a publish-all in flight neither undoes a change nor swallows a save,
// and a change kept waiting by a driver that answers asks it for its records.
#include "controller/models/driver_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/models/sensor_models.h"
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

TEST(DriverView, AModelWaitsForTheDriversRecordsThenGoesLayoutFirst) {
    Link l;
    SetModel(l.view, 49);  // B128
    l.view.Poll();
    EXPECT_TRUE(l.toDriver.received.empty());
    test::DeliverAll(l.driver, l.controller);
    l.view.Poll();
    EXPECT_EQ(l.toDriver.received,
              (std::vector<std::string>{"Split/State", "Comms/ReqState", "Store/DoSave"}));
    EXPECT_EQ(l.driver.commsReqState.MuxSize, 128);
}

TEST(DriverView, APublishAllInFlightNeitherUndoesAChangeNorSwallowsTheNextSave) {
    Link l;
    test::DeliverAll(l.driver, l.controller);
    SenceState& sense = l.controller.senseState;
    auto change = [&sense](int32_t value) {
        return [&sense, value] {
            sense.CoarseRange = value;
            return true;
        };
    };
    l.view.Change(sense, change(20));
    ASSERT_TRUE(l.driver.storeDoSave.ConsumeCounted());
    // A publish-all sent before the change arrives after it, the save's number included: the
    // change is written again and sent again.
    Registry before(ProgramRole::Driver, l.clock);
    test::DeliverAll(before, l.controller);
    l.toDriver.received.clear();
    l.view.Poll();
    EXPECT_EQ(sense.CoarseRange, 20);
    EXPECT_EQ(l.toDriver.received, (std::vector<std::string>{"Sense/State", "Store/DoSave"}));
    EXPECT_TRUE(l.driver.storeDoSave.ConsumeCounted());  // a new number, not one handled
    // Long after, a copy that differs is the driver's own.
    l.clock.Advance(kDriverViewRecentMs + 1);
    test::DeliverAll(before, l.controller);
    l.view.Poll();
    EXPECT_NE(sense.CoarseRange, 20);
    l.view.Change(sense, change(21));
    EXPECT_TRUE(l.driver.storeDoSave.ConsumeCounted());
}

TEST(DriverView, AChangeWaitingOnADriverThatAnswersAsksForItsRecordsNowAndThen) {
    Link l;
    OutputState& output = l.controller.outputState;
    l.view.Change(output, [&output] { return output.Enable = true; });
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
