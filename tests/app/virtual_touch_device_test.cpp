// The virtual touch device: construction values, the out report's byte order, the endpoint
// made on first use and opened once, silence when it is missing, and writes that never wait
// for a slow device.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/board/queued_touch_endpoint.h"
#include "driver/board/virtual_touch_device.h"
#include "tests/support/fake_clock.h"

namespace kv {
namespace {

class RecordingEndpoint final : public TouchEndpoint {
public:
    struct Log {
        int made = 0;
        int opens = 0;
        int gone = 0;
        std::vector<std::vector<uint8_t>> writes;
    };
    RecordingEndpoint(Log& log, bool present) : log_(log), present_(present) { ++log_.made; }
    ~RecordingEndpoint() override { ++log_.gone; }
    RecordingEndpoint(const RecordingEndpoint&) = delete;
    RecordingEndpoint& operator=(const RecordingEndpoint&) = delete;
    bool Open() override {
        ++log_.opens;
        return present_;
    }
    void Write(const uint8_t* report, size_t length) override {
        log_.writes.emplace_back(report, report + length);
    }

private:
    Log& log_;
    bool present_;
};

// Made and opened the way the driver makes its endpoint: open once, null when absent.
TouchEndpointFactory Factory(RecordingEndpoint::Log& log, bool present) {
    return [&log, present]() -> std::unique_ptr<TouchEndpoint> {
        auto endpoint = std::make_unique<RecordingEndpoint>(log, present);
        if (!endpoint->Open()) {
            return nullptr;
        }
        return endpoint;
    };
}

TEST(VirtualTouchDevice, SendsTheStagedContactInDeviceOrder) {
    RecordingEndpoint::Log log;
    VirtualTouchDevice device(Factory(log, true));
    device.SetX(0x1234);
    device.SetY(0x0567);
    device.SetContactNumber(2);
    device.SetContactState(3);
    device.Send();
    ASSERT_EQ(log.writes.size(), 1u);
    std::vector<uint8_t> expected = {0x01, 0x03, 0x00, 0x34, 0x12, 0x67, 0x05, 0x84, 0x03,
                                     0x1E, 0x00, 0x1E, 0x00, 0x02, 0x00, 0x00, 0x00};
    expected.insert(expected.end(), 12, 0x00);
    expected.push_back(0x01);
    EXPECT_EQ(log.writes[0], expected);
    EXPECT_EQ(std::vector<uint8_t>(device.outReport.begin(), device.outReport.end()), expected);
}

TEST(VirtualTouchDevice, StartsWithTheConstructionValues) {
    RecordingEndpoint::Log log;
    VirtualTouchDevice device(Factory(log, true));
    const ContactReport expected = {1, 1, 0, 0, 0, 0, 0, 0, 0x84, 0x03, 30, 0, 30, 0, 1};
    EXPECT_EQ(device.staging, expected);
    EXPECT_FALSE(device.contact1Down);
    EXPECT_FALSE(device.contact2Down);
}

TEST(VirtualTouchDevice, TheEndpointIsMadeAndOpenedOnceOnTheFirstSend) {
    RecordingEndpoint::Log log;
    VirtualTouchDevice device(Factory(log, true));
    EXPECT_EQ(log.made, 0);  // a touch mode that never sends never makes a touch device
    EXPECT_FALSE(device.Opened());
    for (int i = 0; i < 3; ++i) {
        device.Send();
    }
    EXPECT_TRUE(device.Opened());
    EXPECT_EQ(log.made, 1);
    EXPECT_EQ(log.opens, 1);
    EXPECT_EQ(log.writes.size(), 3u);
}

TEST(VirtualTouchDevice, AMissingEndpointIsAskedForOnceAndNeverWritten) {
    RecordingEndpoint::Log log;
    VirtualTouchDevice device(Factory(log, false));
    for (int i = 0; i < 3; ++i) {
        device.Send();
    }
    EXPECT_FALSE(device.Opened());
    EXPECT_EQ(log.made, 1);
    EXPECT_EQ(log.opens, 1);
    EXPECT_TRUE(log.writes.empty());

    VirtualTouchDevice none(nullptr);
    none.Send();
    EXPECT_FALSE(none.Opened());
}

// Native touch chosen: the device is there before the first contact and stays while the mode
// holds; another mode lets it go; choosing native touch again makes it again.
TEST(VirtualTouchDevice, IsKeptWhileNativeTouchIsTheMode) {
    RecordingEndpoint::Log log;
    VirtualTouchDevice device(Factory(log, true));
    device.Keep(false);
    EXPECT_EQ(log.made, 0);
    device.Keep(true);
    device.Keep(true);
    device.SendContact(3, 1, 100, 200);
    EXPECT_TRUE(device.Opened());
    EXPECT_EQ(log.writes.size(), 1u);
    device.Keep(false);
    EXPECT_FALSE(device.Opened());
    EXPECT_EQ(log.gone, 1);
    device.Keep(true);
    EXPECT_EQ(log.made, 2);
}

// A device whose writes hang until the test lets them go, as hid_write can.
class StuckEndpoint final : public TouchEndpoint {
public:
    bool Open() override { return true; }
    void Write(const uint8_t* report, size_t length) override {
        std::unique_lock<std::mutex> lock(mutex);
        ++entered;
        changed.notify_all();
        changed.wait(lock, [this] { return released; });
        written.emplace_back(report, report + length);
        changed.notify_all();
    }
    // Waits (with a generous deadline, never a timed assertion) until pred holds.
    template <class Pred>
    bool Await(Pred pred) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(60), pred);
    }
    void Release() {
        const std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    int entered = 0;
    bool released = false;
    std::vector<std::vector<uint8_t>> written;
};

TEST(QueuedTouchEndpoint, WritesNeverWaitForAStuckDeviceAndTheNewestReportsGetThrough) {
    auto stuck = std::make_unique<StuckEndpoint>();
    StuckEndpoint& device = *stuck;
    QueuedTouchEndpoint queued(std::move(stuck));
    auto report = [](int n) { return std::vector<uint8_t>(30, static_cast<uint8_t>(n)); };

    queued.Write(report(0).data(), 30);
    ASSERT_TRUE(device.Await([&] { return device.entered == 1; }));
    const int more = static_cast<int>(QueuedTouchEndpoint::kMaxQueued) + 20;
    for (int n = 1; n <= more; ++n) {
        queued.Write(report(n).data(), 30);
    }
    {
        // Every write above returned while the device still held the first one.
        const std::lock_guard<std::mutex> lock(device.mutex);
        EXPECT_EQ(device.entered, 1);
        EXPECT_TRUE(device.written.empty());
    }

    device.Release();
    const size_t expected = 1 + QueuedTouchEndpoint::kMaxQueued;
    ASSERT_TRUE(device.Await([&] { return device.written.size() == expected; }));
    const std::lock_guard<std::mutex> lock(device.mutex);
    EXPECT_EQ(device.written.front(), report(0));
    // The oldest waiting reports were dropped; the rest arrive in order, the newest last.
    for (size_t i = 1; i < expected; ++i) {
        EXPECT_EQ(device.written[i], report(more - static_cast<int>(expected - 1 - i))) << i;
    }
}

// What happened, in order, on the writer thread: sleeps of the clock and writes.
struct OrderLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;
    void Add(std::string event) {
        const std::lock_guard<std::mutex> lock(mutex);
        events.push_back(std::move(event));
        changed.notify_all();
    }
};

class LoggingEndpoint final : public TouchEndpoint {
public:
    explicit LoggingEndpoint(OrderLog& log) : log_(log) {}
    bool Open() override { return true; }
    void Write(const uint8_t* report, size_t) override {
        log_.Add("write " + std::to_string(report[0]));
    }

private:
    OrderLog& log_;
};

TEST(QueuedTouchEndpoint, ANewDeviceGetsItsFirstReportsOnlyAfterTheSettleTime) {
    OrderLog log;
    test::FakeClock clock(0);
    clock.StandStill();
    clock.OnSleep([&](int ms) { log.Add("sleep " + std::to_string(ms)); });
    QueuedTouchEndpoint queued(std::make_unique<LoggingEndpoint>(log), 250, clock);
    for (uint8_t n = 1; n <= 2; ++n) {
        const std::vector<uint8_t> report(30, n);
        queued.Write(report.data(), report.size());
    }
    std::unique_lock<std::mutex> lock(log.mutex);
    ASSERT_TRUE(log.changed.wait_for(lock, std::chrono::seconds(60),
                                     [&] { return log.events.size() == 3; }));
    EXPECT_EQ(log.events, (std::vector<std::string>{"sleep 250", "write 1", "write 2"}));
}

}  // namespace
}  // namespace kv
