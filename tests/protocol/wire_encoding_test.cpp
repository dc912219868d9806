// Primitive field encodings, the frame prefix and the record header, byte for byte.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "protocol/registry.h"
#include "protocol/wire.h"
#include "tests/support/byte_builder.h"
#include "tests/support/logged_registry.h"

namespace kv {
namespace {

using test::ByteBuilder;
using test::Bytes;
using test::LoggedRegistry;

// A bare record used only for its reading routines.
struct Reader {
    explicit Reader(const Bytes& bytes) : data(bytes) { record.Attach(data.data(), 0, Size()); }
    int32_t Size() const { return static_cast<int32_t>(data.size()); }
    Bytes data;
    DataManipulation record;
};

TEST(WireInteger, WritesLeastSignificantByteFirst) {
    std::array<uint8_t, 8> out{};
    wire::PutInt(out.data(), 0x12345678);
    wire::PutInt(out.data() + 4, -2);
    EXPECT_EQ(out, (std::array<uint8_t, 8>{0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST(WireInteger, ReadsLittleEndianAndAdvancesFour) {
    Reader r({0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x00, 0x80, 0xB3, 0x15, 0x00, 0x00});
    EXPECT_EQ(r.record.ReadInt(), 0x12345678);
    EXPECT_EQ(r.record.Cursor(), 4);
    EXPECT_EQ(r.record.ReadInt(), INT32_MIN);
    EXPECT_EQ(r.record.ReadInt(), 5555);
    EXPECT_EQ(r.record.Cursor(), 12);
}

TEST(WireInteger, ThatDoesNotFitReadsZeroAndKeepsTheCursor) {
    Reader r({0x01, 0x00, 0x00, 0x00, 0x07, 0x07, 0x07});
    EXPECT_EQ(r.record.ReadInt(), 1);
    EXPECT_EQ(r.record.ReadInt(), 0);
    EXPECT_EQ(r.record.Cursor(), 4);
    EXPECT_EQ(r.record.ReadReal(), 0.0f);
    EXPECT_EQ(r.record.Cursor(), 4);
    // The three bytes are still there for one-byte fields.
    EXPECT_EQ(r.record.ReadChar(), 0x07);
}

TEST(WireReal, IsSinglePrecisionLittleEndian) {
    std::array<uint8_t, 8> out{};
    wire::PutReal(out.data(), 1.5f);
    wire::PutReal(out.data() + 4, -0.25f);
    EXPECT_EQ(out, (std::array<uint8_t, 8>{0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x80, 0xBE}));

    Reader r({0x00, 0x00, 0xC0, 0x3F, 0x00, 0x00, 0x80, 0xBE, 0xDB, 0x0F, 0x49, 0x40});
    EXPECT_EQ(r.record.ReadReal(), 1.5f);
    EXPECT_EQ(r.record.ReadReal(), -0.25f);
    EXPECT_EQ(r.record.ReadReal(), 3.14159274f);
    EXPECT_EQ(r.record.Cursor(), 12);
}

TEST(WireFlag, WritesAsciiOneAndZero) {
    std::array<uint8_t, 2> out{};
    wire::PutFlag(out.data(), true);
    wire::PutFlag(out.data() + 1, false);
    EXPECT_EQ(out, (std::array<uint8_t, 2>{0x31, 0x30}));
}

TEST(WireFlag, OnlyAsciiOneReadsTrue) {
    Reader r({0x31, 0x01, 'T', 0x30, 0x00, 0xFF, '1'});
    const std::array<bool, 7> expected{true, false, false, false, false, false, true};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(r.record.ReadFlag(), expected[i]) << "byte " << i;
        EXPECT_EQ(r.record.Cursor(), static_cast<int32_t>(i + 1));
    }
}

TEST(WireChar, IsARawByte) {
    Reader r({'x', 0x00, 0xFF});
    EXPECT_EQ(r.record.ReadChar(), 'x');
    EXPECT_EQ(r.record.ReadChar(), '\0');
    EXPECT_EQ(static_cast<uint8_t>(r.record.ReadChar()), 0xFF);
    EXPECT_EQ(r.record.Cursor(), 3);
}

TEST(WireText, PadsWithNulToTheWidth) {
    for (int32_t width : {16, 80, 100}) {
        Bytes out(static_cast<size_t>(width) + 1, 0xEE);
        wire::PutText(out.data(), "Comms", width);
        const Bytes expected =
            ByteBuilder().Text("Comms", static_cast<size_t>(width)).Byte(0xEE).Get();
        EXPECT_EQ(out, expected) << "width " << width;
    }
}

TEST(WireText, EmptyIsWrittenAsABCD) {
    Bytes out(17, 0xEE);
    wire::PutText(out.data(), "", 16);
    EXPECT_EQ(out, (Bytes{'A', 'B', 'C', 'D', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE}));
}

TEST(WireText, SixteenAndSeventeenCharactersFillTheFieldWithoutNul) {
    Bytes out(17, 0xEE);
    wire::PutText(out.data(), "ABCDEFGHIJKLMNOP", 16);
    EXPECT_EQ(out, ByteBuilder().Text("ABCDEFGHIJKLMNOP", 16).Byte(0xEE).Get());

    std::fill(out.begin(), out.end(), 0xEE);
    wire::PutText(out.data(), "ABCDEFGHIJKLMNOPQ", 16);
    EXPECT_EQ(out, ByteBuilder().Text("ABCDEFGHIJKLMNOP", 16).Byte(0xEE).Get());
}

TEST(WireText, ReadsUpToTheFirstNulAndMovesTheFullWidth) {
    Bytes field = ByteBuilder().Text("AB", 16).Get();
    field[5] = 'Z';  // after the terminator: not part of the text
    field.push_back(0x42);
    Reader r(field);
    FixedText<16> text("old value");
    r.record.ReadText(text);
    EXPECT_EQ(text.View(), "AB");
    EXPECT_EQ(r.record.Cursor(), 16);
    EXPECT_EQ(r.record.ReadChar(), 0x42);
}

TEST(WireText, AFullFieldWithoutNulReadsAllItsCharacters) {
    Reader r(ByteBuilder().Text("0123456789abcdef", 16).Text("next", 16).Get());
    FixedText<16> first;
    FixedText<16> second;
    r.record.ReadText(first);
    r.record.ReadText(second);
    EXPECT_EQ(first.View(), "0123456789abcdef");
    EXPECT_EQ(second.View(), "next");
    EXPECT_EQ(r.record.Cursor(), 32);
}

TEST(WireText, StopsAtTheEndOfTheReceivedData) {
    Reader r({'H', 'e', 'l', 'l', 'o'});
    FixedText<16> text("previous");
    r.record.ReadText(text);
    EXPECT_EQ(text.View(), "Hello");
    EXPECT_EQ(r.record.Cursor(), 16);
    r.record.ReadText(text);
    EXPECT_EQ(text.View(), "");
}

TEST(WireText, AnEmptyViewStoresAnEmptyText) {
    FixedText<16> text("old");
    text = std::string_view{};
    EXPECT_EQ(text.View(), "");
    FixedText<80> other("old");
    TextRef(other).Set(std::string_view{});
    EXPECT_EQ(other.View(), "");
}

TEST(WireText, ZeroWidthWritesNothing) {
    Bytes out(4, 0xEE);
    wire::PutText(out.data(), "text", 0);
    wire::PutText(out.data(), "", -1);
    EXPECT_EQ(out, Bytes(4, 0xEE));
}

// The prefix and header of an event, written by the controller: spelled out byte by byte.
TEST(WireFrame, ControllerEventIsExactlyNinetyOneBytes) {
    LoggedRegistry controller(ProgramRole::Controller);
    controller.registry.driverDoStop.RaiseCounted();
    ASSERT_EQ(controller.transport.frames.size(), 1u);

    const Bytes expected = {
        0x00, 0xFF, 0x10,                                                // sync, record frame
        0xD2, 0x04, 0x00, 0x00,                                          // sender 1234
        0x5B, 0x00, 0x00, 0x00,                                          // frame length 91
        0x08, 0x00, 0x00, 0x00,                                          // record address 8
        0x4C, 0x00, 0x00, 0x00,                                          // remaining length 76
        'E',  'V',  'E',  'N',  'T', 0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // kind
        'D',  'r',  'i',  'v',  'e', 'r', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // object
        'D',  'o',  'S',  't',  'o', 'p', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // topic
        0x00, 0x00, 0x00, 0x00,                                          // payload size 0
        0x00, 0x00, 0x00, 0x00,                                          // tag 0
        0x01, 0x00, 0x00, 0x00,                                          // settable
        0x01, 0x00, 0x00, 0x00,                                          // event valid
        0x01, 0x00, 0x00, 0x00,                                          // sequence 1
        0x00, 0x00, 0x00, 0x00,                                          // spare
    };
    ASSERT_EQ(expected.size(), 91u);
    EXPECT_EQ(controller.transport.frames[0], expected);
}

TEST(WireFrame, DriverPrefixCarriesSender5555) {
    LoggedRegistry driver(ProgramRole::Driver);
    driver.registry.MarkPeerHeard();
    driver.registry.driverDoHeartBeat.header.sequence = 254;
    ASSERT_EQ(driver.registry.driverDoHeartBeat.Publish(), 0);
    ASSERT_EQ(driver.transport.frames.size(), 1u);

    test::HeaderWords h;
    h.sender = 5555;
    h.address = 160;
    h.topic = "DoHeartBeat";
    h.sequence = 254;
    const Bytes& frame = driver.transport.frames[0];
    EXPECT_EQ(frame, test::FrameHead(h).Get());
    EXPECT_EQ(Bytes(frame.begin() + 3, frame.begin() + 7), (Bytes{0xB3, 0x15, 0x00, 0x00}));
}

// A record with a payload: lengths count the payload, bytes 67-70 give its size, and the
// payload starts with the size again.
TEST(WireFrame, RecordLengthsCountThePayload) {
    LoggedRegistry controller(ProgramRole::Controller);
    controller.registry.senseStatus.Send();
    ASSERT_EQ(controller.transport.frames.size(), 1u);
    const Bytes& frame = controller.transport.frames[0];
    ASSERT_EQ(frame.size(), 99u);
    EXPECT_EQ(Bytes(frame.begin() + 7, frame.begin() + 11), (Bytes{99, 0, 0, 0}));
    EXPECT_EQ(Bytes(frame.begin() + 15, frame.begin() + 19), (Bytes{84, 0, 0, 0}));
    EXPECT_EQ(Bytes(frame.begin() + 67, frame.begin() + 71), (Bytes{8, 0, 0, 0}));
    EXPECT_EQ(Bytes(frame.begin() + 91, frame.begin() + 95), (Bytes{8, 0, 0, 0}));
}

TEST(WireFrame, HelloDatagramOfEachProgram) {
    const auto driver = wire::HelloDatagram(wire::kSenderDriver);
    const auto controller = wire::HelloDatagram(wire::kSenderController);
    EXPECT_EQ(Bytes(driver.begin(), driver.end()),
              (Bytes{0x00, 0xFF, 0x02, 0xB3, 0x15, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Bytes(controller.begin(), controller.end()),
              (Bytes{0x00, 0xFF, 0x02, 0xD2, 0x04, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00}));
}

// Names that fill or overflow a text(16) field: no terminator on the wire, and the reader
// still finds the next field where it belongs.
TEST(WireFrame, LongObjectNamesAreCutAndTheReaderLandsOnTheTopic) {
    for (const std::string object : {"ABCDEFGHIJKLMNOP", "ABCDEFGHIJKLMNOPQ"}) {
        LoggedRegistry sender(ProgramRole::Controller);
        sender.registry.storeDoSave.header.object = object;
        sender.registry.storeDoSave.RaiseCounted();
        ASSERT_EQ(sender.transport.frames.size(), 1u);
        const Bytes& frame = sender.transport.frames[0];
        EXPECT_EQ(Bytes(frame.begin() + 35, frame.begin() + 51),
                  ByteBuilder().Text("ABCDEFGHIJKLMNOP", 16).Get());
        EXPECT_EQ(Bytes(frame.begin() + 51, frame.begin() + 67),
                  ByteBuilder().Text("DoSave", 16).Get());

        Registry receiver(ProgramRole::Driver, sender.clock);
        const DeliverResult result =
            receiver.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
        ASSERT_EQ(result.record, &receiver.storeDoSave);
        EXPECT_TRUE(result.parsed);
        EXPECT_EQ(receiver.storeDoSave.header.object.View(), "ABCDEFGHIJKLMNOP");
        EXPECT_EQ(receiver.storeDoSave.header.topic.View(), "DoSave");
        EXPECT_EQ(receiver.storeDoSave.header.sequence, 1);
        EXPECT_EQ(receiver.storeDoSave.header.eventValid, 1);
    }
}

TEST(WireFrame, EmptyObjectAndTopicTravelAsABCD) {
    LoggedRegistry controller(ProgramRole::Controller);
    controller.registry.outputState.header.topic = "";
    controller.registry.outputState.Send();
    ASSERT_EQ(controller.transport.frames.size(), 1u);
    const Bytes& frame = controller.transport.frames[0];
    EXPECT_EQ(Bytes(frame.begin() + 51, frame.begin() + 67), ByteBuilder().Text("ABCD", 16).Get());
}

}  // namespace
}  // namespace kv
