// The virtual touch device: construction values, the out report's byte order, and silence
// when the endpoint is missing.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "driver/runtime/virtual_touch_device.h"

namespace kv {
namespace {

class RecordingEndpoint final : public TouchEndpoint {
public:
    struct Log {
        int opens = 0;
        std::vector<std::vector<uint8_t>> writes;
    };
    RecordingEndpoint(Log& log, bool present) : log_(log), present_(present) {}
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

TEST(VirtualTouchDevice, SendsTheStagedContactInDeviceOrder) {
    RecordingEndpoint::Log log;
    VirtualTouchDevice device(std::make_unique<RecordingEndpoint>(log, true));
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
    VirtualTouchDevice device(std::make_unique<RecordingEndpoint>(log, true));
    const ContactReport expected = {1, 1, 0, 0, 0, 0, 0, 0, 0x84, 0x03, 30, 0, 30, 0, 1};
    EXPECT_EQ(device.staging, expected);
    EXPECT_TRUE(device.Opened());
    EXPECT_FALSE(device.contact1Down);
    EXPECT_FALSE(device.contact2Down);
}

TEST(VirtualTouchDevice, AMissingEndpointIsOpenedOnceAndNeverWritten) {
    RecordingEndpoint::Log log;
    VirtualTouchDevice device(std::make_unique<RecordingEndpoint>(log, false));
    for (int i = 0; i < 3; ++i) {
        device.Send();
    }
    EXPECT_FALSE(device.Opened());
    EXPECT_EQ(log.opens, 1);
    EXPECT_TRUE(log.writes.empty());

    VirtualTouchDevice none(nullptr);
    none.Send();
    EXPECT_FALSE(none.Opened());
}

}  // namespace
}  // namespace kv
