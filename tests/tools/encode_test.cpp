// kvctl encode against frames built by hand from the wire format.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/byte_builder.h"
#include "tests/tools/kvctl_encode.h"
#include "tools/kvctl/commands.h"
#include "tools/kvctl/frame_encode.h"

namespace {

using kv::kvctl::EncodeFrame;
using kv::kvctl::EncodeRequest;
using kv::test::ByteBuilder;
using kv::test::FrameHead;
using kvtest::Encode;
using kvtest::Request;

TEST(KvctlEncode, CountedEventCarriesValidAndSequenceInTheHeader) {
    EncodeRequest request = Request("Driver/DoStop");
    request.eventValid = 1;
    request.sequence = 3;
    const auto expected = FrameHead({.address = 8,
                                     .kind = "EVENT",
                                     .object = "Driver",
                                     .topic = "DoStop",
                                     .settable = true,
                                     .eventValid = 1,
                                     .sequence = 3})
                              .Get();
    EXPECT_EQ(Encode(request), expected);
    EXPECT_EQ(expected.size(), 91u);
}

TEST(KvctlEncode, CommsReqStateWithMuxSize) {
    ByteBuilder expected = FrameHead({.address = 949,
                                      .payloadSize = 21,
                                      .kind = "OBJECT",
                                      .object = "Comms",
                                      .topic = "ReqState",
                                      .tag = 1,
                                      .settable = true});
    // Construction values except MuxSize: Open false, PortIndex 0, BaudIndex 1, SampleIndex 5.
    expected.Int(21).Flag(false).Int(0).Int(1).Int(5).Int(40);
    EXPECT_EQ(Encode(Request("Comms/ReqState", {"MuxSize=40"})), expected.Get());
}

TEST(KvctlEncode, GraphValueByIndex) {
    ByteBuilder expected = FrameHead({.address = 1316,
                                      .payloadSize = 1036,
                                      .kind = "OBJECT",
                                      .object = "Graph",
                                      .topic = "State0",
                                      .tag = 1});
    expected.Int(1036).Int(0).Int(0).Zeros(12).RealBits(0x3FC00000).Zeros(252 * 4);
    const auto frame = Encode(Request("Graph/State0", {"Values[3]=1.5"}));
    EXPECT_EQ(frame.size(), 1127u);
    EXPECT_EQ(frame, expected.Get());
}

TEST(KvctlEncode, MonitorQueueSendsTheEntryItsTagSelects) {
    EncodeRequest request =
        Request("Monitor/Queue", {"Value1=3", "Value3=true", "Value11=-2.5", "Value8=-1"});
    request.tag = 7;
    ByteBuilder expected = FrameHead({.address = 7141,
                                      .payloadSize = 11520,
                                      .kind = "QUEUE",
                                      .object = "Monitor",
                                      .topic = "Queue",
                                      .tag = 7});
    expected.Int(11520).Int(7);
    expected.Int(3).RealBits(0).Flag(true).Int(0).Int(0).RealBits(0).RealBits(0);
    expected.Int(-1).Int(0).RealBits(0).RealBits(0xC0200000);
    expected.Zeros(11520 - 49);
    EXPECT_EQ(Encode(request), expected.Get());
}

TEST(KvctlEncode, MonitorQueueTagOutsideTheRingStillCarriesTheAssignedEntry) {
    EncodeRequest request = Request("Monitor/Queue", {"Value1=9"});
    request.tag = 300;
    const auto frame = Encode(request);
    ASSERT_EQ(frame.size(), 11611u);
    EXPECT_EQ(frame[95], 0x2C);  // entry index 300 on the wire
    EXPECT_EQ(frame[96], 0x01);
    EXPECT_EQ(frame[99], 9);  // Value1 of the entry sent
}

TEST(KvctlEncode, HelloFromEitherProgram) {
    const std::vector<uint8_t> controller = {0x00, 0xFF, 0x02, 0xD2, 0x04, 0x00,
                                             0x00, 0x0B, 0x00, 0x00, 0x00};
    const std::vector<uint8_t> driver = {0x00, 0xFF, 0x02, 0xB3, 0x15, 0x00,
                                         0x00, 0x0B, 0x00, 0x00, 0x00};
    EXPECT_EQ(Encode(Request("hello")), controller);
    EncodeRequest request = Request("hello");
    request.from = kv::ProgramRole::Driver;
    EXPECT_EQ(Encode(request), driver);
}

TEST(KvctlEncode, EndMarkerSendsEmptyObjectAndTopicAsABCD) {
    const auto expected =
        FrameHead({.address = 19898, .kind = "END", .object = "ABCD", .topic = "ABCD"}).Get();
    EXPECT_EQ(Encode(Request("END")), expected);
}

TEST(KvctlEncode, FromDriverWritesTheDriverSender) {
    EncodeRequest request = Request("Sense/Status", {"Value=0.5"});
    request.from = kv::ProgramRole::Driver;
    ByteBuilder expected = FrameHead({.sender = 5555,
                                      .address = 5957,
                                      .payloadSize = 8,
                                      .kind = "OBJECT",
                                      .object = "Sense",
                                      .topic = "Status",
                                      .tag = 1});
    expected.Int(8).RealBits(0x3F000000);
    EXPECT_EQ(Encode(request), expected.Get());
}

TEST(KvctlEncode, TextsAreCutToTheirWidthAndEmptyTextsSendABCD) {
    const std::string longText(90, 'x');
    const auto result = EncodeFrame(Request("Comms/ActStatus", {"StatusText=" + longText}));
    ASSERT_TRUE(result.ok) << result.error;
    ByteBuilder expected = FrameHead({.address = 1143,
                                      .payloadSize = 97,
                                      .kind = "OBJECT",
                                      .object = "Comms",
                                      .topic = "ActStatus",
                                      .tag = 1});
    expected.Int(97).Int(0).Flag(false).Int(0).Int(0).Text(std::string(80, 'x'), 80);
    EXPECT_EQ(result.frame, expected.Get());
    ASSERT_EQ(result.notices.size(), 1u);  // the user hears about the cut
    EXPECT_NE(result.notices[0].find("80"), std::string::npos);

    // Line 9 of the copyright is empty after construction; line 0 is set empty here.
    const auto copyright = Encode(Request("Copyright/State", {"Lines[0]="}));
    ASSERT_EQ(copyright.size(), 91u + 1004u);
    const std::string line0(copyright.begin() + 95, copyright.begin() + 95 + 5);
    EXPECT_EQ(line0, std::string("ABCD\0", 5));
    const std::string line9(copyright.begin() + 95 + 900, copyright.begin() + 95 + 905);
    EXPECT_EQ(line9, std::string("ABCD\0", 5));
}

TEST(KvctlEncode, CharacterAndFlagFields) {
    // DriverState sends any character but "0" as "1".
    const auto state = Encode(Request("Driver/State", {"State=x"}));
    ASSERT_EQ(state.size(), 96u);
    EXPECT_EQ(state[95], '1');

    ByteBuilder pointer = FrameHead({.address = 6953,
                                     .payloadSize = 12,
                                     .kind = "OBJECT",
                                     .object = "Output",
                                     .topic = "Pointer",
                                     .tag = 1,
                                     .settable = true});
    pointer.Int(12);
    for (int i = 0; i < 8; ++i) {
        pointer.Flag(i == 2 || i == 7);
    }
    EXPECT_EQ(Encode(Request("Output/Pointer", {"Enable2=true", "Enable7=1", "Enable0=false"})),
              pointer.Get());
}

TEST(KvctlEncode, CommandPrintsOneLineOfLowercaseHex) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    kv::kvctl::CommandIo io{in, out, err};
    EXPECT_EQ(kv::kvctl::RunEncode({"hello", "--from", "driver"}, io), 0);
    EXPECT_EQ(out.str(), "00ff02b31500000b000000\n");
    EXPECT_EQ(err.str(), "");
}

}  // namespace
