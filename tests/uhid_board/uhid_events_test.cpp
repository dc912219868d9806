// The uhid messages of the emulated board: what the kernel gets for create, input, destroy
// and the answers to its report requests.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "driver/sim/hid_recording.h"
#include "tests/rigs/uhid-board/uhid_events.h"

using namespace kv::uhid;

namespace {

DeviceIdentity Board() {
    DeviceIdentity identity;
    identity.name = kv::sim::kBoardName;
    identity.bus = kv::sim::kBusUsb;
    identity.vendor = kv::sim::kBoardVendor;
    identity.product = kv::sim::kBoardProduct;
    identity.version = 0x0101;
    identity.descriptor = kv::sim::kBoardReportDescriptor;
    return identity;
}

}  // namespace

TEST(UhidCreate, CarriesTheBoardsIdentityAndDescriptor) {
    uhid_event event;
    ASSERT_TRUE(BuildCreate(Board(), event));
    EXPECT_EQ(event.type, UHID_CREATE2);
    EXPECT_STREQ(reinterpret_cast<const char*>(event.u.create2.name), kv::sim::kBoardName);
    EXPECT_EQ(event.u.create2.bus, 3);
    EXPECT_EQ(event.u.create2.vendor, 0x2012u);
    EXPECT_EQ(event.u.create2.product, 0x1001u);
    EXPECT_EQ(event.u.create2.version, 0x0101u);
    const std::vector<uint8_t>& descriptor = kv::sim::kBoardReportDescriptor;
    ASSERT_EQ(event.u.create2.rd_size, descriptor.size());
    EXPECT_EQ(0, std::memcmp(event.u.create2.rd_data, descriptor.data(), descriptor.size()));
    // Type, the fixed fields up to the descriptor, and the descriptor itself.
    EXPECT_EQ(EventSize(event), 4 + 128 + 64 + 64 + 2 + 2 + 4 * 4 + descriptor.size());
}

TEST(UhidCreate, CutsALongNameAndKeepsItTerminated) {
    DeviceIdentity identity = Board();
    identity.name = std::string(300, 'n');
    uhid_event event;
    ASSERT_TRUE(BuildCreate(identity, event));
    const auto* name = reinterpret_cast<const char*>(event.u.create2.name);
    EXPECT_EQ(std::strlen(name), sizeof(event.u.create2.name) - 1);
}

TEST(UhidCreate, RefusesDescriptorsTheKernelWouldReject) {
    DeviceIdentity identity = Board();
    uhid_event event;
    identity.descriptor.clear();
    EXPECT_FALSE(BuildCreate(identity, event));
    identity.descriptor.assign(HID_MAX_DESCRIPTOR_SIZE + 1, 0x06);
    EXPECT_FALSE(BuildCreate(identity, event));
    identity.descriptor.assign(HID_MAX_DESCRIPTOR_SIZE, 0x06);
    EXPECT_TRUE(BuildCreate(identity, event));
}

TEST(UhidInput, CarriesTheReportBytesAsSent) {
    std::vector<uint8_t> report(64);
    for (size_t i = 0; i < report.size(); ++i) {
        report[i] = static_cast<uint8_t>(200 - i);
    }
    uhid_event event;
    ASSERT_TRUE(BuildInput(report.data(), report.size(), event));
    EXPECT_EQ(event.type, UHID_INPUT2);
    ASSERT_EQ(event.u.input2.size, 64);
    EXPECT_EQ(0, std::memcmp(event.u.input2.data, report.data(), report.size()));
    EXPECT_EQ(EventSize(event), 4u + 2u + 64u);
}

TEST(UhidInput, RefusesEmptyAndOversizedReports) {
    std::vector<uint8_t> report(UHID_DATA_MAX + 1, 1);
    uhid_event event;
    EXPECT_FALSE(BuildInput(report.data(), 0, event));
    EXPECT_FALSE(BuildInput(nullptr, 10, event));
    EXPECT_FALSE(BuildInput(report.data(), report.size(), event));
    EXPECT_TRUE(BuildInput(report.data(), UHID_DATA_MAX, event));
}

TEST(UhidRequests, ReportRequestsAreRefusedWithTheirId) {
    uhid_event request;
    uhid_event reply;
    std::memset(&request, 0, sizeof(request));
    request.type = UHID_GET_REPORT;
    request.u.get_report.id = 77;
    ASSERT_TRUE(BuildRefusal(request, reply));
    EXPECT_EQ(reply.type, UHID_GET_REPORT_REPLY);
    EXPECT_EQ(reply.u.get_report_reply.id, 77u);
    EXPECT_EQ(reply.u.get_report_reply.err, EIO);

    request.type = UHID_SET_REPORT;
    request.u.set_report.id = 78;
    ASSERT_TRUE(BuildRefusal(request, reply));
    EXPECT_EQ(reply.type, UHID_SET_REPORT_REPLY);
    EXPECT_EQ(reply.u.set_report_reply.id, 78u);
    EXPECT_EQ(reply.u.set_report_reply.err, EIO);
}

TEST(UhidRequests, OtherMessagesNeedNoAnswer) {
    uhid_event request;
    uhid_event reply;
    for (const uint32_t type : {UHID_START, UHID_OPEN, UHID_CLOSE, UHID_OUTPUT, UHID_STOP}) {
        std::memset(&request, 0, sizeof(request));
        request.type = type;
        EXPECT_FALSE(BuildRefusal(request, reply)) << type;
    }
}

TEST(UhidDestroy, IsTheTypeAlone) {
    uhid_event event;
    BuildDestroy(event);
    EXPECT_EQ(event.type, UHID_DESTROY);
    EXPECT_EQ(EventSize(event), 4u);
}
