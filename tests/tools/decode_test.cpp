// kvctl decode: frames cut and parsed as the receiver does, shown as JSON lines.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/byte_builder.h"
#include "tests/support/process_support.h"
#include "tests/tools/json_reader.h"
#include "tests/tools/kvctl_encode.h"
#include "tools/kvctl/frame_decode.h"

namespace {

using kv::test::ByteBuilder;
using kv::test::Concat;
using kv::test::FrameHead;
using kv::test::kDriverHello;
using kvtest::Encode;
using kvtest::Json;

struct Decoded {
    bool ok = false;
    std::vector<Json> lines;
};

Decoded Decode(const std::vector<uint8_t>& datagram) {
    kv::kvctl::DatagramDecoder decoder;
    std::ostringstream out;
    Decoded decoded;
    decoded.ok = decoder.Decode(datagram.data(), datagram.size(), out);
    for (const auto& line : kvtest::JsonLines(out.str())) {
        EXPECT_TRUE(line.has_value()) << "not JSON: " << out.str();
        if (line) {
            decoded.lines.push_back(*line);
        }
    }
    return decoded;
}

bool IsError(const Json& line) {
    return line.members.size() == 1 && line["error"].type == Json::Type::String;
}

TEST(KvctlDecode, CountedEventShowsItsHeaderAndNoFields) {
    const auto frame = FrameHead({.address = 404,
                                  .kind = "EVENT",
                                  .object = "Store",
                                  .topic = "DoSave",
                                  .settable = true,
                                  .eventValid = 1,
                                  .sequence = 12})
                           .Get();
    const Decoded d = Decode(frame);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.lines.size(), 1u);
    const Json& j = d.lines[0];
    EXPECT_EQ(j["command"].text, "record");
    EXPECT_EQ(j["sender"].text, "1234");
    EXPECT_EQ(j["length"].text, "91");
    EXPECT_EQ(j["address"].text, "404");
    EXPECT_EQ(j["record"].text, "Store/DoSave");
    EXPECT_EQ(j["kind"].text, "EVENT");
    EXPECT_EQ(j["object"].text, "Store");
    EXPECT_EQ(j["topic"].text, "DoSave");
    EXPECT_EQ(j["payload_size"].text, "0");
    EXPECT_EQ(j["tag"].text, "0");
    EXPECT_TRUE(j["settable"].boolean);
    EXPECT_EQ(j["event_valid"].text, "1");
    EXPECT_EQ(j["sequence"].text, "12");
    EXPECT_EQ(j["spare"].text, "0");
    EXPECT_TRUE(j["parsed"].boolean);
    EXPECT_EQ(j["fields"].type, Json::Type::Object);
    EXPECT_TRUE(j["fields"].members.empty());
}

TEST(KvctlDecode, RecordFieldsByCatalogueName) {
    const Decoded d = Decode(Encode("Comms/ReqState", {"MuxSize=40"}));
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.lines.size(), 1u);
    const Json& fields = d.lines[0]["fields"];
    ASSERT_EQ(fields.members.size(), 6u);
    EXPECT_EQ(fields.members[0].first, "size");  // the leading payload size comes first
    EXPECT_EQ(fields["size"].text, "21");
    EXPECT_FALSE(fields["Open"].boolean);
    EXPECT_EQ(fields["Open"].type, Json::Type::Bool);
    EXPECT_EQ(fields["BaudIndex"].text, "1");
    EXPECT_EQ(fields["SampleIndex"].text, "5");
    EXPECT_EQ(fields["MuxSize"].text, "40");
}

TEST(KvctlDecode, ArraysAndRealsReadBackExactly) {
    const Decoded graph = Decode(Encode("Graph/State1", {"Values[3]=1.5", "Values[255]=0.1"}));
    ASSERT_EQ(graph.lines.size(), 1u);
    const Json& values = graph.lines[0]["fields"]["Values"];
    ASSERT_EQ(values.type, Json::Type::Array);
    ASSERT_EQ(values.items.size(), 256u);
    EXPECT_EQ(values.items[3].text, "1.5");
    EXPECT_EQ(values.items[255].text, "0.1");  // shortest form, not 0.100000001
    EXPECT_EQ(values.items[0].text, "0");

    // Defaults that are not exact in binary still print as their shortest decimal.
    const Decoded damp = Decode(Encode("Mouse/Damp"));
    ASSERT_EQ(damp.lines.size(), 1u);
    const Json& f = damp.lines[0]["fields"];
    EXPECT_EQ(f["SnapRange"].text, "0.1");
    EXPECT_EQ(f["DampRange"].text, "0.02");
    EXPECT_EQ(f["RightClickRange"].text, "0.07");
    EXPECT_EQ(f["RightClickPeriod"].text, "2");

    const Decoded copyright = Decode(Encode("Copyright/State", {"Lines[4]=hello"}));
    ASSERT_EQ(copyright.lines.size(), 1u);
    const Json& lines = copyright.lines[0]["fields"]["Lines"];
    ASSERT_EQ(lines.items.size(), 10u);
    EXPECT_EQ(lines.items[4].text, "hello");
    EXPECT_EQ(lines.items[1].text, "Kelvarin Driver 10.3.0\n");
    EXPECT_EQ(lines.items[9].text, "ABCD");  // an empty line arrives as ABCD
}

TEST(KvctlDecode, MonitorQueueShowsTheIndexOnTheWireAndTheEntry) {
    const Decoded d = Decode(Encode("Monitor/Queue", {"Value1=3", "Value10=0.25"}, 7));
    ASSERT_EQ(d.lines.size(), 1u);
    EXPECT_EQ(d.lines[0]["tag"].text, "7");
    const Json& f = d.lines[0]["fields"];
    EXPECT_EQ(f["entry_index"].text, "7");
    EXPECT_EQ(f["Value1"].text, "3");
    EXPECT_EQ(f["Value10"].text, "0.25");
    EXPECT_FALSE(f["Value3"].boolean);
}

TEST(KvctlDecode, HelloAndEndMarker) {
    const std::vector<uint8_t>& hello = kDriverHello;  // from sender 5555
    const Decoded h = Decode(hello);
    ASSERT_TRUE(h.ok);
    ASSERT_EQ(h.lines.size(), 1u);
    EXPECT_EQ(h.lines[0]["command"].text, "hello");
    EXPECT_EQ(h.lines[0]["sender"].text, "5555");
    EXPECT_EQ(h.lines[0]["length"].text, "11");
    EXPECT_EQ(h.lines[0].members.size(), 3u);

    // The receiver stops at the END kind: Parse returns false and the payload is not read.
    const Decoded end = Decode(Encode("END"));
    ASSERT_TRUE(end.ok);
    ASSERT_EQ(end.lines.size(), 1u);
    EXPECT_EQ(end.lines[0]["record"].text, "END");
    EXPECT_EQ(end.lines[0]["kind"].text, "END");
    EXPECT_EQ(end.lines[0]["address"].text, "19898");
    EXPECT_FALSE(end.lines[0]["parsed"].boolean);
    EXPECT_EQ(end.lines[0]["parsed"].type, Json::Type::Bool);
    EXPECT_TRUE(end.lines[0]["fields"].IsNull());
}

TEST(KvctlDecode, TwoFramesInOneDatagramInOrder) {
    const auto datagram = Concat({Encode("Split/State", {"Split0=7"}), Encode("Store/DoLoad")});
    const Decoded d = Decode(datagram);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.lines.size(), 2u);
    EXPECT_EQ(d.lines[0]["record"].text, "Split/State");
    EXPECT_EQ(d.lines[0]["fields"]["Split0"].text, "7");
    EXPECT_EQ(d.lines[1]["record"].text, "Store/DoLoad");
}

TEST(KvctlDecode, GarbageBeforeAFrameIsSkipped) {
    const auto datagram = Concat({{0x01, 0xFF, 0x00}, Encode("Edge/State", {"Left=3"})});
    const Decoded d = Decode(datagram);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.lines.size(), 1u);
    EXPECT_EQ(d.lines[0]["fields"]["Left"].text, "3");
}

TEST(KvctlDecode, HelloAmongOtherFramesKeepsItsOwnSender) {
    const std::vector<uint8_t>& hello = kDriverHello;  // from sender 5555
    const auto datagram = Concat({{0x42, 0x00}, Encode("Log/State"), {0xFF, 0x00, 0x07}, hello});
    const Decoded d = Decode(datagram);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.lines.size(), 2u);
    EXPECT_EQ(d.lines[0]["record"].text, "Log/State");
    EXPECT_EQ(d.lines[1]["command"].text, "hello");
    EXPECT_EQ(d.lines[1]["sender"].text, "5555");
}

TEST(KvctlDecode, UnknownAddressIsAnError) {
    ByteBuilder frame =
        FrameHead({.address = 9, .kind = "EVENT", .object = "Driver", .topic = "DoStop"});
    const auto datagram = Concat({frame.Get(), Encode("Store/DoSave")});
    const Decoded d = Decode(datagram);
    EXPECT_FALSE(d.ok);
    ASSERT_EQ(d.lines.size(), 2u);
    EXPECT_TRUE(IsError(d.lines[0]));
    EXPECT_NE(d.lines[0]["error"].text.find('9'), std::string::npos);
    EXPECT_EQ(d.lines[1]["record"].text, "Store/DoSave");  // the next frame still decodes
}

TEST(KvctlDecode, DroppedFramesAreErrors) {
    auto unknownCommand = Encode("Store/DoSave");
    unknownCommand[2] = 0x11;
    const Decoded a = Decode(unknownCommand);
    EXPECT_FALSE(a.ok);
    ASSERT_FALSE(a.lines.empty());
    EXPECT_TRUE(IsError(a.lines[0]));
    EXPECT_NE(a.lines[0]["error"].text.find("0x11"), std::string::npos);

    auto shortLength = Encode("Store/DoSave");
    shortLength[7] = 50;  // a record frame below 91 bytes
    const Decoded b = Decode(shortLength);
    EXPECT_FALSE(b.ok);
    ASSERT_FALSE(b.lines.empty());
    EXPECT_TRUE(IsError(b.lines[0]));
    EXPECT_NE(b.lines[0]["error"].text.find("50"), std::string::npos);
}

TEST(KvctlDecode, BytesLeftOverAreAnError) {
    auto frame = Encode("Comms/ReqState");
    frame.resize(100);  // the prefix still claims 112 bytes
    const Decoded d = Decode(frame);
    EXPECT_FALSE(d.ok);
    ASSERT_EQ(d.lines.size(), 1u);
    EXPECT_TRUE(IsError(d.lines[0]));
    EXPECT_NE(d.lines[0]["error"].text.find("100 of 112"), std::string::npos);

    const Decoded tail = Decode(Concat({Encode("Store/DoSave"), {0x01, 0x02}}));
    EXPECT_FALSE(tail.ok);
    ASSERT_EQ(tail.lines.size(), 2u);
    EXPECT_EQ(tail.lines[0]["record"].text, "Store/DoSave");
    EXPECT_TRUE(IsError(tail.lines[1]));
}

TEST(KvctlDecode, TruncatedFrameReadsZerosWhereTheDataEnds) {
    // A frame that claims only 106 bytes ends two bytes into SampleIndex: BaudIndex is whole,
    // SampleIndex and MuxSize read as 0.
    auto frame = Encode("Comms/ReqState", {"Open=true", "BaudIndex=4", "MuxSize=40"});
    frame.resize(106);
    frame[7] = 106;
    const Decoded d = Decode(frame);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.lines.size(), 1u);
    EXPECT_EQ(d.lines[0]["length"].text, "106");
    EXPECT_TRUE(d.lines[0]["parsed"].boolean);
    const Json& f = d.lines[0]["fields"];
    EXPECT_TRUE(f["Open"].boolean);
    EXPECT_EQ(f["BaudIndex"].text, "4");
    EXPECT_EQ(f["SampleIndex"].text, "0");
    EXPECT_EQ(f["MuxSize"].text, "0");

    // A text cut short reads up to the end of the data.
    auto status = Encode("Comms/ActStatus", {"StatusText=Status : ok", "StatusCode=2"});
    status.resize(91 + 17 + 6);
    status[7] = static_cast<uint8_t>(status.size());
    const Decoded s = Decode(status);
    ASSERT_EQ(s.lines.size(), 1u);
    EXPECT_EQ(s.lines[0]["fields"]["StatusText"].text, "Status");
    EXPECT_EQ(s.lines[0]["fields"]["StatusCode"].text, "2");
}

TEST(KvctlDecode, TextsAreEscapedAndNonFiniteRealsAreNull) {
    auto status = Encode("Comms/ActStatus", {std::string("StatusText=a\"b\\c\nd\xE9\x7f")});
    const Decoded d = Decode(status);
    ASSERT_EQ(d.lines.size(), 1u);
    EXPECT_EQ(d.lines[0]["fields"]["StatusText"].text, "a\"b\\c\nd\xE9\x7f");

    kv::kvctl::DatagramDecoder decoder;
    std::ostringstream raw;
    decoder.Decode(status.data(), status.size(), raw);
    EXPECT_NE(raw.str().find("d\\u00e9\\u007f"), std::string::npos) << raw.str();
    for (const char c : raw.str()) {
        EXPECT_LT(static_cast<unsigned char>(c), 0x80);  // plain ASCII out
    }

    for (const uint32_t bits : {0x7FC00000u, 0x7F800000u, 0xFF800000u}) {
        ByteBuilder frame = FrameHead({.address = 5957,
                                       .payloadSize = 8,
                                       .kind = "OBJECT",
                                       .object = "Sense",
                                       .topic = "Status",
                                       .tag = 1});
        frame.Int(8).RealBits(bits);
        const Decoded n = Decode(frame.Get());
        ASSERT_EQ(n.lines.size(), 1u);
        EXPECT_TRUE(n.lines[0]["fields"]["Value"].IsNull()) << std::hex << bits;
        EXPECT_NE(n.lines[0]["fields"].Find("Value"), nullptr);
    }
}

TEST(KvctlDecode, OversizedDatagramReportsTheDroppedBytes) {
    std::vector<uint8_t> datagram(30100, 0x55);
    const auto frame = Encode("Store/DoSave");
    std::copy(frame.begin(), frame.end(), datagram.end() - static_cast<long>(frame.size()));
    const Decoded d = Decode(datagram);
    EXPECT_FALSE(d.ok);
    ASSERT_FALSE(d.lines.empty());
    EXPECT_TRUE(IsError(d.lines[0]));
    EXPECT_NE(d.lines[0]["error"].text.find("100 bytes"), std::string::npos);
    EXPECT_EQ(d.lines.back()["record"].text, "Store/DoSave");
}

TEST(KvctlHex, DigitsOfEitherCaseWithSpaces) {
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(kv::kvctl::ParseHex("00 FF 1a\tB3", bytes, error)) << error;
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x00, 0xFF, 0x1A, 0xB3}));
    EXPECT_FALSE(kv::kvctl::ParseHex("00f", bytes, error));
    EXPECT_NE(error.find("odd"), std::string::npos);
    EXPECT_FALSE(kv::kvctl::ParseHex("00fg", bytes, error));
    EXPECT_NE(error.find('4'), std::string::npos);  // the position of the bad digit
}

}  // namespace
