// The live commands against a scripted driver: a fake datagram link that plays a driver's
// publish-all and keeps what kvctl sends, on a fake clock, so nothing waits for real.
#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/registry.h"
#include "protocol/wire.h"
#include "tests/support/fake_clock.h"
#include "tests/support/frame_log.h"
#include "tests/tools/json_reader.h"
#include "tools/kvctl/live_commands.h"
#include "tools/kvctl/live_session.h"
#include "tools/kvctl/monitor_view.h"
#include "tools/kvctl/record_json.h"
#include "transport/network.h"

namespace {

using kv::kvctl::Arguments;
using kv::kvctl::CollectOutcome;
using kv::kvctl::CommandIo;

using kv::test::FakeClock;

using Datagram = std::vector<uint8_t>;

// The driver's side of the link: datagrams it will send, and those it received.
struct Peer {
    explicit Peer(FakeClock& c)
        : clock(c), ear(std::make_unique<kv::Registry>(kv::ProgramRole::Driver, c)) {}
    FakeClock& clock;
    std::deque<Datagram> toKvctl;
    std::vector<Datagram> fromKvctl;
    // Sent only once kvctl has said hello twice: the first hello was lost on the way.
    std::deque<Datagram> afterSecondHello;
    size_t hellos = 0;
    // The driver ends on the stop request that arrives after this many were lost; from then
    // on the system refuses datagrams to its port. Never, when unset.
    std::optional<size_t> endsAfterLostStops = 0;
    size_t stopsLost = 0;
    bool ended = false;
    // What the driver says after a save request: its Store/State, set when the save failed.
    // Unset: it says nothing.
    std::function<std::optional<Datagram>()> saveAnswer;
    std::unique_ptr<kv::Registry> ear;  // recognises the stop and save requests
};

class FakeLink final : public kv::kvctl::DatagramLink {
public:
    explicit FakeLink(Peer& peer) : peer_(peer) {}
    bool Send(const uint8_t* bytes, size_t length) override {
        if (peer_.ended) {
            gone_ = true;  // nobody on the port: the system refuses
            return true;
        }
        if (IsStop(bytes, length) && peer_.endsAfterLostStops) {
            if (peer_.stopsLost < *peer_.endsAfterLostStops) {
                ++peer_.stopsLost;
                return true;  // lost on the way
            }
            peer_.ended = true;
        }
        peer_.fromKvctl.emplace_back(bytes, bytes + length);
        if (Is(bytes, length, peer_.ear->storeDoSave) && peer_.saveAnswer) {
            if (auto answer = peer_.saveAnswer()) {
                peer_.toKvctl.push_back(std::move(*answer));
            }
        }
        if (length > kv::wire::kOffCommand && bytes[kv::wire::kOffCommand] == 0x02 &&
            ++peer_.hellos == 2) {
            for (Datagram& datagram : peer_.afterSecondHello) {
                peer_.toKvctl.push_back(std::move(datagram));
            }
            peer_.afterSecondHello.clear();
        }
        return true;
    }
    size_t Receive(uint8_t* buffer, size_t capacity, int timeoutMs) override {
        if (peer_.toKvctl.empty()) {
            peer_.clock.Advance(timeoutMs);  // waited in vain
            return 0;
        }
        Datagram datagram = std::move(peer_.toKvctl.front());
        peer_.toKvctl.pop_front();
        peer_.clock.Advance(1);
        const size_t n = std::min(capacity, datagram.size());
        std::copy_n(datagram.begin(), n, buffer);
        return n;
    }
    bool PeerGone() const override { return gone_; }
    std::string PeerName() const override { return "127.0.0.1:11249"; }

private:
    bool Is(const uint8_t* bytes, size_t length, const kv::DataManipulation& record) {
        return length > kv::wire::kPrefixSize && bytes[kv::wire::kOffCommand] == 0x10 &&
               peer_.ear->Deliver(bytes, 0, static_cast<int32_t>(length)).record == &record;
    }
    bool IsStop(const uint8_t* bytes, size_t length) {
        return Is(bytes, length, peer_.ear->driverDoStop);
    }

    Peer& peer_;
    bool gone_ = false;
};

class LiveCommands : public ::testing::Test {
protected:
    LiveCommands() : driver(std::make_unique<kv::Registry>(kv::ProgramRole::Driver, clock)) {
        driver->SetTransport(&capture);
        AnswerSaves(true);
    }

    // The driver answers each save request with its Store/State: saved, not saved, or nothing.
    void AnswerSaves(std::optional<bool> saved) {
        peer.saveAnswer = [this, saved]() -> std::optional<Datagram> {
            if (!saved) {
                return std::nullopt;
            }
            driver->storeState.State = !*saved;
            capture.frames.clear();
            driver->MarkPeerHeard();  // the driver sends only to a peer it hears
            driver->storeState.Publish();
            return capture.frames.empty() ? std::nullopt : std::optional(capture.frames.back());
        };
    }

    // The driver's publish-all, queued for kvctl; `count` frames of it (all by default).
    // Whatever an earlier run left unread went to that run's socket, not to the next one.
    void QueuePublishAll(size_t count = kv::Registry::kEntries) {
        peer.toKvctl.clear();
        capture.frames.clear();
        driver->PublishAll();
        for (size_t i = 0; i < count && i < capture.frames.size(); ++i) {
            peer.toKvctl.push_back(capture.frames[i]);
        }
    }

    int Run(int (*command)(const Arguments&, CommandIo&, const kv::kvctl::LiveEnvironment&),
            std::vector<std::string> words) {
        args = std::move(words);
        const Arguments view(args.begin(), args.end());
        kv::kvctl::LiveEnvironment env{
            [this](uint16_t port, bool, std::string&) -> std::unique_ptr<kv::kvctl::DatagramLink> {
                openedPort = port;
                return std::make_unique<FakeLink>(peer);
            },
            clock, [this] { return stopAfterMs >= 0 && clock.NowMs() >= stopAfterMs; }};
        out.str("");
        err.str("");
        CommandIo io{in, out, err};
        return command(view, io, env);
    }

    // What kvctl sent, parsed into a fresh driver-side registry, frame by frame.
    std::vector<kv::DataManipulation*> Delivered(kv::Registry& into) {
        std::vector<kv::DataManipulation*> records;
        for (const Datagram& d : peer.fromKvctl) {
            if (d.size() > kv::wire::kPrefixSize && d[kv::wire::kOffCommand] == 0x10) {
                records.push_back(into.Deliver(d.data(), 0, static_cast<int32_t>(d.size())).record);
            } else {
                records.push_back(nullptr);  // the hello
            }
        }
        return records;
    }

    FakeClock clock{1000};
    Peer peer{clock};
    kv::test::FrameLog capture;  // what the driver-side registry sends, one datagram per frame
    std::unique_ptr<kv::Registry> driver;
    std::vector<std::string> args;
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    uint16_t openedPort = 0;
    int64_t stopAfterMs = -1;
};

const Datagram kControllerHello = {0x00, 0xFF, 0x02, 0xD2, 0x04, 0x00,
                                   0x00, 0x0B, 0x00, 0x00, 0x00};

TEST_F(LiveCommands, StatusPrintsTheDriversRecordsInTableOrderAndSaysHelloFirst) {
    driver->senseState.CoarseRange = 17;
    driver->commsActStatus.FramesLastPeriod = 199;
    QueuePublishAll();
    ASSERT_EQ(Run(kv::kvctl::RunStatus, {"--port", "12345"}), 0) << err.str();
    EXPECT_EQ(openedPort, 12345);
    ASSERT_FALSE(peer.fromKvctl.empty());
    EXPECT_EQ(peer.fromKvctl[0], kControllerHello);

    const auto lines = kvtest::JsonLines(out.str());
    ASSERT_EQ(lines.size(), 38u) << out.str();
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_TRUE(lines[i].has_value()) << i;
        EXPECT_EQ((*lines[i])["record"].text, kv::kvctl::RecordName(driver->Table()[i])) << i;
        EXPECT_EQ((*lines[i])["sender"].text, "5555") << i;
    }
    EXPECT_EQ((*lines[20])["fields"]["CoarseRange"].text, "17");
    EXPECT_EQ((*lines[14])["fields"]["FramesLastPeriod"].text, "199");
}

// A hello lost on the way (a driver busy with someone else's publish-all drops datagrams) is
// said again until the answer begins, and no more after it.
TEST_F(LiveCommands, AHelloIsRepeatedUntilTheDriverAnswers) {
    QueuePublishAll();
    peer.afterSecondHello.swap(peer.toKvctl);
    ASSERT_EQ(Run(kv::kvctl::RunStatus, {"--timeout", "3"}), 0) << err.str();
    EXPECT_EQ(kvtest::JsonLines(out.str()).size(), 38u);
    ASSERT_EQ(peer.fromKvctl.size(), 2u);
    EXPECT_EQ(peer.fromKvctl[0], kControllerHello);
    EXPECT_EQ(peer.fromKvctl[1], kControllerHello);
}

TEST_F(LiveCommands, NoAnswerAndAHalfAnswerExitWithOne) {
    EXPECT_EQ(Run(kv::kvctl::RunStatus, {"--timeout", "0.25"}), 1);
    EXPECT_EQ(err.str(), "driver not answering on 127.0.0.1:11249\n");
    EXPECT_TRUE(out.str().empty());
    EXPECT_EQ(openedPort, kv::kDriverPort);

    QueuePublishAll(10);  // the driver ends in the middle of its answer
    EXPECT_EQ(Run(kv::kvctl::RunStatus, {"--timeout=0.5"}), 1);
    EXPECT_NE(err.str().find("stopped answering"), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty());

    // A record early in the table is there before the driver goes quiet.
    QueuePublishAll(10);
    EXPECT_EQ(Run(kv::kvctl::RunGet, {"Store/DoSave", "--timeout", "0.5"}), 0) << err.str();
    EXPECT_NE(out.str().find("\"record\": \"Store/DoSave\""), std::string::npos) << out.str();
}

TEST_F(LiveCommands, SetChangesOnlyTheNamedFieldsOfTheDriversRecordAndSaves) {
    driver->senseState.CoarseRange = 17;
    driver->senseState.PressThreshold = 9;
    driver->storeDoSave.header.sequence = 4;
    QueuePublishAll();
    ASSERT_EQ(
        Run(kv::kvctl::RunSet, {"Sense/State", "TouchThreshold=3", "Advanced=true", "--save"}), 0)
        << err.str();

    kv::Registry received(kv::ProgramRole::Driver, clock);
    const auto records = Delivered(received);
    ASSERT_EQ(records.size(), 3u);  // hello, the record, the save request
    EXPECT_EQ(records[1], &received.senseState);
    EXPECT_EQ(received.senseState.CoarseRange, 17);  // the driver's value, not ours
    EXPECT_EQ(received.senseState.PressThreshold, 9);
    EXPECT_EQ(received.senseState.TouchThreshold, 3);
    EXPECT_TRUE(received.senseState.Advanced);
    EXPECT_EQ(records[2], &received.storeDoSave);
    EXPECT_EQ(received.storeDoSave.header.eventValid, 1);
    EXPECT_EQ(received.storeDoSave.header.sequence, 4 + 0x40000000);
    EXPECT_TRUE(received.storeDoSave.ConsumeCounted());
}

// save and set --save succeed only when the driver says it saved; a failed or unconfirmed
// save is said and exits with 1.
TEST_F(LiveCommands, ASaveIsASuccessOnlyWhenTheDriverSaysItSaved) {
    const std::vector<std::vector<std::string>> commands = {
        {"save"}, {"set", "Sense/State", "TouchThreshold=3", "--save"}};
    const std::pair<std::optional<bool>, const char*> answers[] = {
        {true, ""}, {false, "could not save its settings"}, {std::nullopt, "did not say within"}};
    for (const auto& words : commands) {
        for (const auto& [saved, said] : answers) {
            SCOPED_TRACE(words.front() + (saved ? (*saved ? " saved" : " failed") : " silent"));
            AnswerSaves(saved);
            QueuePublishAll();
            const std::vector<std::string> rest(words.begin() + 1, words.end());
            const int status =
                Run(words.front() == "save" ? kv::kvctl::RunSave : kv::kvctl::RunSet, rest);
            EXPECT_EQ(status, saved == std::optional<bool>(true) ? 0 : 1) << err.str();
            EXPECT_NE(err.str().find(said), std::string::npos) << err.str();
        }
    }
}

TEST_F(LiveCommands, BadRecordsFieldsValuesAndOptionsExitWithTwoAndSendNothing) {
    QueuePublishAll();
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"Sense/Stat", "CoarseRange=3"}, "Sense/Stat"},
        {{"Sense/State", "Coarse=3"}, "Coarse"},
        {{"Sense/State", "CoarseRange=3", "PressThreshold=high"}, "high"},
        {{"Sense/State", "Advanced=maybe"}, "maybe"},
        {{"Mouse/Damp", "SnapRange=nan"}, "nan"},
        {{"Sense/State"}, "FIELD=VALUE"},
        {{"Sense/State", "CoarseRange=3", "--port", "70000"}, "70000"},
        {{"Sense/State", "CoarseRange=3", "--timeout", "0"}, "--timeout"},
        {{"Sense/State", "CoarseRange=3", "--frob"}, "--frob"},
    };
    for (const auto& [words, named] : cases) {
        EXPECT_EQ(Run(kv::kvctl::RunSet, words), 2) << words[0];
        EXPECT_NE(err.str().find(named), std::string::npos) << err.str();
    }
    EXPECT_EQ(Run(kv::kvctl::RunGet, {"Nothing/Here"}), 2);
    EXPECT_EQ(Run(kv::kvctl::RunStop, {"now"}), 2);
    EXPECT_TRUE(peer.fromKvctl.empty());
    EXPECT_EQ(openedPort, 0);  // not even a socket
}

// What the driver would refuse (and answer with its own copy) is said and not sent.
TEST_F(LiveCommands, WhatTheDriverWouldRefuseIsNotSent) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"Sense/State", "CoarseRange=51"}, "out of the range the driver takes"},
        {{"Calib/State", "exclude_edge_left=0.9", "exclude_edge_right=0.2"}, "out of the range"},
        {{"Calib/Ref_TL", "SA=1"}, "keeps Calib/Ref_TL to itself"},
    };
    for (const auto& [words, named] : cases) {
        QueuePublishAll();
        EXPECT_EQ(Run(kv::kvctl::RunSet, words), 2) << words[0];
        EXPECT_NE(err.str().find(named), std::string::npos) << err.str();
    }
    kv::Registry received(kv::ProgramRole::Driver, clock);
    EXPECT_EQ(Delivered(received).size(), cases.size());  // the hellos alone
}

// kvctl's counted events jump a quarter of the sequence range ahead of the driver's, so that
// the Controller's next request (its copy plus one) is never taken for one already handled.
TEST_F(LiveCommands, EventsJumpFarAheadOfTheDriversSequence) {
    driver->storeDoLoad.header.sequence = 7;
    driver->driverDoStop.header.sequence = 0;
    QueuePublishAll();
    ASSERT_EQ(Run(kv::kvctl::RunLoad, {}), 0) << err.str();
    QueuePublishAll();
    ASSERT_EQ(Run(kv::kvctl::RunStop, {}), 0) << err.str();

    kv::Registry received(kv::ProgramRole::Driver, clock);
    received.storeDoLoad.lastHandled = 7;  // the driver handled 7 already
    const auto records = Delivered(received);
    ASSERT_EQ(records.size(), 4u);  // hello, DoLoad, hello, DoStop
    EXPECT_EQ(records[1], &received.storeDoLoad);
    EXPECT_EQ(records[3], &received.driverDoStop);
    EXPECT_EQ(received.storeDoLoad.header.sequence, 7 + 0x40000000);
    EXPECT_TRUE(received.storeDoLoad.ConsumeCounted());
    EXPECT_EQ(received.driverDoStop.header.sequence, 0x40000000);
    EXPECT_TRUE(received.driverDoStop.ConsumeCounted());

    // The Controller, which learnt 7 from the driver, asks for the next load: 8 is not taken
    // for kvctl's request.
    received.storeDoLoad.header.sequence = 8;
    EXPECT_TRUE(received.storeDoLoad.ConsumeCounted());

    // A sequence word near its largest value wraps instead of overflowing (asked of a driver
    // started again after the stop).
    peer.fromKvctl.clear();
    peer.ended = false;
    driver->storeDoSave.header.sequence = INT32_MAX;
    QueuePublishAll();
    ASSERT_EQ(Run(kv::kvctl::RunSave, {}), 0) << err.str();
    received.storeDoSave.lastHandled = INT32_MAX;
    Delivered(received);
    EXPECT_EQ(received.storeDoSave.header.sequence, INT32_MIN + 0x3FFFFFFF);
    EXPECT_TRUE(received.storeDoSave.ConsumeCounted());
}

// kvctl stop succeeds only once the driver has gone, sending the same request again meanwhile,
// so that one lost on the way is made good; a driver that runs on is a failure.
TEST_F(LiveCommands, StopReturnsOnceTheDriverHasEndedAndRepeatsTheRequestMeanwhile) {
    driver->driverDoStop.header.sequence = 5;
    peer.endsAfterLostStops = 2;
    QueuePublishAll();
    const int64_t begin = clock.NowMs();
    ASSERT_EQ(Run(kv::kvctl::RunStop, {}), 0) << err.str();
    EXPECT_EQ(peer.stopsLost, 2u);
    EXPECT_LT(clock.NowMs() - begin, 3000);
    kv::Registry received(kv::ProgramRole::Driver, clock);
    const auto records = Delivered(received);
    ASSERT_EQ(records.size(), 2u);  // the hello, and the stop that arrived
    EXPECT_EQ(records[1], &received.driverDoStop);
    EXPECT_EQ(received.driverDoStop.header.sequence, 5 + 0x40000000);

    // A driver that never ends: the request goes on arriving, always the same one, and kvctl
    // gives up after 10 s and says so.
    peer.fromKvctl.clear();
    peer.endsAfterLostStops.reset();
    peer.ended = false;
    QueuePublishAll();
    const int64_t second = clock.NowMs();
    EXPECT_EQ(Run(kv::kvctl::RunStop, {}), 1);
    EXPECT_GE(clock.NowMs() - second, 10000);
    EXPECT_NE(err.str().find("the driver on 127.0.0.1:11249 is still running 10 s after"),
              std::string::npos)
        << err.str();
    kv::Registry again(kv::ProgramRole::Driver, clock);
    size_t stops = 0;
    for (kv::DataManipulation* record : Delivered(again)) {
        if (record == &again.driverDoStop) {
            ++stops;
            EXPECT_EQ(again.driverDoStop.header.sequence, 5 + 0x40000000);
            EXPECT_TRUE(again.driverDoStop.header.eventValid == 1);
        }
    }
    EXPECT_GE(stops, 10u);
}

TEST_F(LiveCommands, MonitorSaysHelloUntilAnsweredThenSendsPresenceEveryTwoSeconds) {
    // The driver is not there yet: a hello every two seconds and one note.
    stopAfterMs = clock.NowMs() + 5000;
    ASSERT_EQ(Run(kv::kvctl::RunMonitor, {"--timeout", "1"}), 0);
    EXPECT_NE(out.str().find("driver not answering on 127.0.0.1:11249"), std::string::npos)
        << out.str();
    for (const Datagram& d : peer.fromKvctl) {
        EXPECT_EQ(d, kControllerHello);  // asks for everything while unanswered
    }
    EXPECT_GE(peer.fromKvctl.size(), 3u);

    peer.fromKvctl.clear();
    QueuePublishAll();
    stopAfterMs = clock.NowMs() + 9000;
    ASSERT_EQ(Run(kv::kvctl::RunMonitor, {}), 0);
    EXPECT_NE(out.str().find("driver answering on"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("driver silent on"), std::string::npos) << out.str();
    kv::Registry received(kv::ProgramRole::Driver, clock);
    const auto records = Delivered(received);
    ASSERT_GE(records.size(), 4u);
    EXPECT_EQ(records[0], nullptr);  // the hello
    for (size_t i = 1; i < records.size(); ++i) {
        EXPECT_EQ(records[i], &received.clientClient) << i;
    }
    EXPECT_TRUE(received.clientClient.Present);
}

// MonitorView on its own: what is news and what is not.
class MonitorLines : public ::testing::Test {
protected:
    MonitorLines() : records(std::make_unique<kv::Registry>(kv::ProgramRole::Controller, clock)) {}

    void Frame(kv::DataManipulation& record) { view.OnFrame(0, record, nullptr, 0); }
    void Signal(float value) {
        records->senseStatus.Value = value;
        Frame(records->senseStatus);
    }
    void Touch(int state, float x, float y) {
        kv::MonitorQueue& queue = records->monitorQueue;
        queue.last = (queue.last + 1) % kv::MonitorQueue::kEntries;
        auto& entry = queue.entries[static_cast<size_t>(queue.last)];
        entry = {};
        entry.Value4 = state;
        entry.Value5 = state;
        entry.Value6 = x;
        entry.Value7 = y;
        Frame(queue);
    }
    std::string Take() {
        std::string text = out.str();
        out.str("");
        return text;
    }

    FakeClock clock{1000};
    std::unique_ptr<kv::Registry> records;
    std::ostringstream out;
    kv::kvctl::MonitorView view{*records, clock, out};
};

TEST_F(MonitorLines, LinkAndFrameCountPrintOnlyWhenTheyChange) {
    kv::CommsStatus& status = records->commsActStatus;
    status.Connected = true;
    status.StatusCode = 1;
    status.FramesLastPeriod = 200;
    Frame(status);
    EXPECT_EQ(Take(), "link connected=yes status=1\nframes per-period=200\n");
    Frame(status);
    EXPECT_EQ(Take(), "");
    status.FramesLastPeriod = 198;
    Frame(status);
    EXPECT_EQ(Take(), "frames per-period=198\n");
    status.Connected = false;
    status.StatusCode = 0;
    Frame(status);
    EXPECT_EQ(Take(), "link connected=no status=0\n");
}

TEST_F(MonitorLines, SignalPrintsRoundedOnARealChangeAtMostFourTimesASecond) {
    Signal(2.4f);
    EXPECT_EQ(Take(), "signal value=2\n");
    clock.Advance(1000);
    Signal(3.6f);  // noise: less than a step away from what was shown
    EXPECT_EQ(Take(), "");
    Signal(31.6f);
    EXPECT_EQ(Take(), "signal value=32\n");
    clock.Advance(10);
    Signal(20.0f);  // too soon after the last line: held back
    Signal(25.2f);
    view.Tick();
    EXPECT_EQ(Take(), "");
    clock.Advance(kv::kvctl::kSignalGapMs);
    view.Tick();  // the latest level, once its time has come
    EXPECT_EQ(Take(), "signal value=25\n");
    view.Tick();
    EXPECT_EQ(Take(), "");
    clock.Advance(10);
    Signal(10.0f);
    Signal(24.5f);  // back near what is shown before it could print: nothing to say
    clock.Advance(kv::kvctl::kSignalGapMs);
    view.Tick();
    EXPECT_EQ(Take(), "");
}

TEST_F(MonitorLines, EveryNewTouchPrintsOnceButNotTheRepeatInsideAPublishAll) {
    Touch(2, 0.25f, 0.5f);
    EXPECT_EQ(Take(), "touch engine=0 primary=2 x=0.250 y=0.500 secondary=0 x=0.000 y=0.000\n");
    Touch(2, 0.25f, 0.5f);  // a finger resting still
    EXPECT_EQ(Take(), "");
    Touch(2, 0.3f, 0.5f);
    Touch(0, 0.3f, 0.5f);
    EXPECT_EQ(Take(),
              "touch engine=0 primary=2 x=0.300 y=0.500 secondary=0 x=0.000 y=0.000\n"
              "touch engine=0 primary=0 x=0.300 y=0.500 secondary=0 x=0.000 y=0.000\n");

    Frame(records->driverDoStop);  // a publish-all begins
    Touch(2, 0.9f, 0.9f);
    Frame(records->endMarker);
    EXPECT_EQ(Take(), "");
    kv::MonitorQueue& queue = records->monitorQueue;
    queue.last = (queue.last + 1) % kv::MonitorQueue::kEntries;
    auto& entry = queue.entries[static_cast<size_t>(queue.last)];
    entry = {};
    entry.Value1 = 1;
    entry.Value2 = -1.5f;
    entry.Value3 = true;
    entry.Value4 = 2;
    entry.Value8 = 2;
    entry.Value10 = 0.75f;
    entry.Value11 = 0.125f;
    Frame(queue);
    EXPECT_EQ(Take(),
              "touch engine=1 primary=2 x=0.000 y=0.000 secondary=2 x=0.750 y=0.125 wheel=-1.50 "
              "right-click\n");
}

}  // namespace
