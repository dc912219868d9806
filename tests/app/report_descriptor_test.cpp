// Input report lengths from HID report descriptors.
#include <gtest/gtest.h>

#include <vector>

#include "driver/core/report_descriptor.h"

namespace kv {
namespace {

using Bytes = std::vector<uint8_t>;

std::optional<InputReportLayout> Parse(const Bytes& descriptor) {
    return ParseInputReports(descriptor.data(), descriptor.size());
}

// A vendor collection with one unnumbered 64-byte input and a 64-byte output report.
const Bytes kBoard = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                      0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x09, 0x01,
                      0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};

TEST(ReportDescriptor, AnUnnumberedSixtyFourByteInputIsSixtyFiveLong) {
    const auto layout = Parse(kBoard);
    ASSERT_TRUE(layout);
    EXPECT_FALSE(layout->numbered);
    EXPECT_EQ(layout->length, 65);
}

TEST(ReportDescriptor, NumberedReportsTakeTheLongestInput) {
    const Bytes descriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,        // vendor collection
                              0x85, 0x01, 0x75, 0x08, 0x95, 0x08, 0x81, 0x02,  // ID 1: 8 bytes in
                              0x85, 0x02, 0x95, 0x20, 0x81, 0x02,              // ID 2: 32 bytes in
                              0x85, 0x03, 0x96, 0x00, 0x01, 0x91, 0x02,  // ID 3: 256 bytes out
                              0xC0};
    const auto layout = Parse(descriptor);
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->numbered);
    EXPECT_EQ(layout->length, 33);
}

TEST(ReportDescriptor, BitFieldsRoundUpToWholeBytes) {
    const Bytes descriptor = {0x75, 0x01, 0x95, 0x03, 0x81, 0x02,   // 3 buttons
                              0x75, 0x05, 0x95, 0x01, 0x81, 0x03,   // padding
                              0x75, 0x10, 0x95, 0x01, 0x81, 0x02,   // 16 bits
                              0x75, 0x01, 0x95, 0x01, 0x81, 0x02};  // one more bit
    const auto layout = Parse(descriptor);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->length, 5);  // 25 bits: 4 bytes, plus the report ID byte
}

TEST(ReportDescriptor, PushAndPopRestoreTheGlobals) {
    const Bytes descriptor = {0x75, 0x08, 0x95, 0x04, 0xA4,              // push size 8, count 4
                              0x75, 0x10, 0x95, 0x10, 0x91, 0x02, 0xB4,  // output, pop
                              0x81, 0x02};                               // 4 bytes in
    const auto layout = Parse(descriptor);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->length, 5);
}

TEST(ReportDescriptor, LongItemsAreSkipped) {
    const Bytes descriptor = {0xFE, 0x02, 0x10, 0xAA, 0xBB, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02};
    const auto layout = Parse(descriptor);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->length, 3);
}

TEST(ReportDescriptor, NoInputItemsMeanNoInputReports) {
    const auto layout = Parse({0x75, 0x08, 0x95, 0x40, 0x91, 0x02});
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->length, 0);
    EXPECT_EQ(Parse({})->length, 0);
}

TEST(ReportDescriptor, BrokenDescriptorsAreRejected) {
    EXPECT_FALSE(Parse({0x75, 0x08, 0x96, 0x40}));  // a two-byte item cut short
    EXPECT_FALSE(Parse({0xB4}));                    // pop without push
    EXPECT_FALSE(Parse({0xFE, 0x05}));              // long item cut short
    Bytes deep(40, 0xA4);                           // pushes without end
    EXPECT_FALSE(Parse(deep));
    EXPECT_FALSE(ParseInputReports(nullptr, 4));
}

}  // namespace
}  // namespace kv
