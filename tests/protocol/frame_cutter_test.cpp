// The frame cutter: frames sharing or spanning datagrams, garbage, unknown commands, bad
// lengths and a buffer that must never overrun.
#include <gtest/gtest.h>

#include <cstdint>

#include "protocol/frame_cutter.h"
#include "protocol/registry.h"
#include "protocol/wire.h"
#include "tests/support/byte_builder.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_frame_sink.h"

namespace kv {
namespace {

using test::ByteBuilder;
using test::Bytes;
using test::Concat;
using test::FakeClock;
using test::HeaderWords;
using test::RecordingFrameSink;

// An event frame (91 bytes) addressed to Driver DoStop with the given sequence.
Bytes EventFrame(int32_t sequence) {
    HeaderWords h;
    h.eventValid = 1;
    h.sequence = sequence;
    return test::FrameHead(h).Get();
}

// A Split State frame (115 bytes).
Bytes SplitFrame(int32_t split0) {
    ByteBuilder frame = test::FrameHead(test::ObjectHeader(5764, 24, "Split", "State"));
    return frame.Int(24).Int(split0).Int(40).Int(0).Int(0).Int(1).Get();
}

// A bare prefix with any command and length.
Bytes Prefix(uint8_t command, int32_t length) {
    return ByteBuilder().Byte(0x00).Byte(0xFF).Byte(command).Int(1234).Int(length).Get();
}

void Append(FrameCutter& cutter, const Bytes& bytes, FrameSink& sink) {
    cutter.Append(bytes.data(), bytes.size(), sink);
}

// The sink was handed exactly this one frame and the cutter holds nothing back.
::testing::AssertionResult DeliveredOnly(const Bytes& frame, const RecordingFrameSink& sink,
                                         const FrameCutter& cutter) {
    if (sink.records.size() != 1) {
        return ::testing::AssertionFailure() << sink.records.size() << " frames handed on";
    }
    if (sink.records[0].bytes != frame) {
        return ::testing::AssertionFailure() << "another frame handed on";
    }
    if (cutter.Buffered() != 0) {
        return ::testing::AssertionFailure() << cutter.Buffered() << " bytes still buffered";
    }
    return ::testing::AssertionSuccess();
}

TEST(FrameCutter, TwoFramesInOneChunkInOrder) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    const Bytes chunk = Concat({EventFrame(1), SplitFrame(20)});
    Append(cutter, chunk, sink);
    ASSERT_EQ(sink.records.size(), 2u);
    EXPECT_EQ(sink.records[0].bytes, EventFrame(1));
    EXPECT_EQ(sink.records[0].start, 0);
    EXPECT_EQ(sink.records[1].bytes, SplitFrame(20));
    EXPECT_EQ(sink.records[1].start, 91);
    // The whole buffer's valid bytes bound each parse.
    EXPECT_EQ(sink.records[0].validBytes, static_cast<int32_t>(chunk.size()));
    EXPECT_EQ(cutter.Buffered(), 0u);
}

TEST(FrameCutter, GarbageBeforeAFrameIsSkipped) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    Append(cutter, Concat({Bytes{0x12, 0x00, 0x34}, EventFrame(2)}), sink);
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].bytes, EventFrame(2));
    EXPECT_EQ(sink.records[0].start, 3);
    EXPECT_EQ(cutter.Buffered(), 0u);
}

TEST(FrameCutter, ZeroBeforeTheSyncPairIsGarbage) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    Append(cutter, Concat({Bytes{0x00, 0x00}, EventFrame(3)}), sink);
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].start, 2);
    EXPECT_EQ(cutter.Buffered(), 0u);
}

TEST(FrameCutter, FrameSplitAcrossTwoAppends) {
    const Bytes frame = SplitFrame(33);
    for (size_t cut : {1u, 2u, 5u, 10u, 11u, 12u, 50u, 91u, 114u}) {
        FrameCutter cutter;
        RecordingFrameSink sink;
        Append(cutter, Bytes(frame.begin(), frame.begin() + static_cast<long>(cut)), sink);
        EXPECT_TRUE(sink.records.empty()) << cut;
        EXPECT_EQ(cutter.Buffered(), cut);
        Append(cutter, Bytes(frame.begin() + static_cast<long>(cut), frame.end()), sink);
        ASSERT_EQ(sink.records.size(), 1u) << cut;
        EXPECT_EQ(sink.records[0].bytes, frame);
        EXPECT_EQ(cutter.Buffered(), 0u);
    }
}

TEST(FrameCutter, LargestRecordFrameInSmallPieces) {
    FakeClock clock;
    Registry registry(ProgramRole::Driver, clock);
    Bytes frame(11611);
    registry.monitorQueue.WriteFrame(frame.data(), registry.SenderId());
    FrameCutter cutter;
    RecordingFrameSink sink;
    for (size_t at = 0; at < frame.size(); at += 1000) {
        const size_t n = std::min<size_t>(1000, frame.size() - at);
        cutter.Append(frame.data() + at, n, sink);
        EXPECT_EQ(sink.records.size(), at + n == frame.size() ? 1u : 0u);
    }
    ASSERT_EQ(sink.records.size(), 1u);
    EXPECT_EQ(sink.records[0].bytes, frame);
}

TEST(FrameCutter, UnknownCommandIsNotDeliveredAndLosesOnlyItsPrefix) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    Bytes unknown = EventFrame(4);
    unknown[2] = 0x11;
    Append(cutter, unknown, sink);
    EXPECT_TRUE(sink.records.empty());
    EXPECT_EQ(sink.skipped, std::vector<SkipReason>{SkipReason::UnknownCommand});
    // The 80 bytes behind the prefix hold no sync pair and wait for more.
    EXPECT_EQ(cutter.Buffered(), 80u);
    Append(cutter, EventFrame(5), sink);
    EXPECT_TRUE(DeliveredOnly(EventFrame(5), sink, cutter));
}

// A frame hidden behind an unknown command's prefix is found by the resumed search.
TEST(FrameCutter, SearchResumesBehindASkippedPrefix) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    Bytes outer = Concat({Prefix(0x11, 11 + 91), EventFrame(6)});
    Append(cutter, outer, sink);
    EXPECT_TRUE(DeliveredOnly(EventFrame(6), sink, cutter));
}

TEST(FrameCutter, HelloIsReportedInStreamOrder) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    const Bytes hello{0x00, 0xFF, 0x02, 0xD2, 0x04, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00};
    Append(cutter, Concat({EventFrame(1), hello, EventFrame(2)}), sink);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"record", "hello", "record"}));
    EXPECT_EQ(cutter.Buffered(), 0u);
}

// Lengths that cannot be a frame consume only the prefix, so the cutter never stalls on them.
TEST(FrameCutter, ImpossibleLengthsConsumeOnlyThePrefix) {
    struct Case {
        uint8_t command;
        int32_t length;
    };
    for (const Case c :
         {Case{0x02, 5}, Case{0x02, 0}, Case{0x10, 10}, Case{0x10, 50}, Case{0x10, 90},
          Case{0x10, 30001}, Case{0x10, -1}, Case{0x10, INT32_MIN}}) {
        FrameCutter cutter;
        RecordingFrameSink sink;
        Append(cutter, Concat({Prefix(c.command, c.length), SplitFrame(7)}), sink);
        EXPECT_EQ(sink.skipped.size(), 1u) << int{c.command} << " " << c.length;
        ASSERT_EQ(sink.records.size(), 1u) << int{c.command} << " " << c.length;
        EXPECT_EQ(sink.records[0].bytes, SplitFrame(7));
        EXPECT_EQ(sink.records[0].start, 11);
        EXPECT_EQ(sink.hellos, 0);
        EXPECT_EQ(cutter.Buffered(), 0u);
    }
}

TEST(FrameCutter, AClaimedLengthWithinTheBufferWaitsForTheRest) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    Append(cutter, Concat({Prefix(0x10, 30000), SplitFrame(8)}), sink);
    EXPECT_TRUE(sink.records.empty());
    EXPECT_TRUE(sink.skipped.empty());
    EXPECT_EQ(cutter.Buffered(), 11u + 115u);
}

TEST(FrameCutter, BytesWithoutSyncStayUntilMoreArrive) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    Append(cutter, Bytes(40, 0x55), sink);
    EXPECT_EQ(cutter.Buffered(), 40u);
    Append(cutter, Bytes{0x00}, sink);
    EXPECT_EQ(cutter.Buffered(), 41u);
    Bytes rest = EventFrame(9);
    rest.erase(rest.begin());
    Append(cutter, rest, sink);
    EXPECT_TRUE(DeliveredOnly(EventFrame(9), sink, cutter));
}

TEST(FrameCutter, OverflowKeepsTheNewestBytes) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    Append(cutter, Bytes(29950, 0x55), sink);
    EXPECT_EQ(cutter.Buffered(), 29950u);
    Append(cutter, Concat({Bytes{0x55}, EventFrame(10)}), sink);
    EXPECT_EQ(sink.dropped, 42u);
    EXPECT_TRUE(DeliveredOnly(EventFrame(10), sink, cutter));
}

TEST(FrameCutter, ChunkLargerThanTheBufferKeepsItsLastBytes) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    Append(cutter, Bytes(100, 0x55), sink);
    const Bytes chunk = Concat({EventFrame(11), Bytes(29900, 0x55), EventFrame(12)});
    ASSERT_EQ(chunk.size(), 30082u);
    Append(cutter, chunk, sink);
    EXPECT_EQ(sink.dropped, 100u + 82u);
    EXPECT_TRUE(DeliveredOnly(EventFrame(12), sink, cutter));
}

// Deterministic noise: frames, cut frames, corrupted prefixes and random bytes in random
// pieces. Whatever arrives, the buffer stays within bounds and every frame handed on is
// a whole record frame inside the valid bytes.
TEST(FrameCutter, NoiseNeverBreaksTheBounds) {
    FakeClock clock;
    Registry registry(ProgramRole::Driver, clock);
    FrameCutter cutter;
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    class CheckingSink final : public FrameSink {
    public:
        explicit CheckingSink(Registry& r) : registry(r) {}
        void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override {
            ++records;
            EXPECT_EQ(buffer[start], 0x00);
            EXPECT_EQ(buffer[start + 1], 0xFF);
            EXPECT_EQ(buffer[start + 2], 0x10);
            const int32_t length = wire::GetInt(buffer + start + 7);
            EXPECT_GE(length, 91);
            EXPECT_LE(start + length, validBytes);
            EXPECT_LE(validBytes, FrameCutter::kCapacity);
            registry.Deliver(buffer, start, validBytes);
        }
        void OnHello() override {}
        Registry& registry;
        int records = 0;
    } sink(registry);

    const Bytes frames[] = {EventFrame(1), SplitFrame(2), Prefix(0x02, 11), Prefix(0x10, 29999)};
    for (int round = 0; round < 3000; ++round) {
        Bytes chunk;
        const uint32_t pick = next() % 6;
        if (pick < 4) {
            chunk = frames[pick];
            if (next() % 3 == 0) {
                chunk[next() % chunk.size()] = static_cast<uint8_t>(next());
            }
        } else {
            chunk.resize(next() % (pick == 4 ? 300 : 20000));
            for (uint8_t& b : chunk) {
                b = static_cast<uint8_t>(next() % 4 == 0 ? 0 : next());
            }
        }
        size_t at = 0;
        while (at < chunk.size()) {
            const size_t n = std::min<size_t>(chunk.size() - at, 1 + next() % 4000);
            cutter.Append(chunk.data() + at, n, sink);
            ASSERT_LE(cutter.Buffered(), static_cast<size_t>(FrameCutter::kCapacity));
            at += n;
        }
    }
    EXPECT_GT(sink.records, 0);
}

// A stray prefix promising a long frame must not swallow what comes after it: every
// datagram that is one whole frame arrives, whatever garbage came before. Random sequences of
// stray prefixes (plausible lengths, with and without a matching header), cut frames and noise.
TEST(FrameCutter, AWholeFrameAfterAnyGarbageIsDelivered) {
    FrameCutter cutter;
    RecordingFrameSink sink;
    uint32_t state = 777;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    auto garbage = [&]() -> Bytes {
        switch (next() % 5) {
            case 0: {  // a prefix announcing up to 30000 bytes that never come
                Bytes b = Prefix(0x10, static_cast<int32_t>(91 + next() % 29910));
                b.resize(b.size() + next() % 200, 0x5A);
                return b;
            }
            case 1: {  // a well-formed record start whose frame is cut short
                Bytes b = SplitFrame(static_cast<int32_t>(next() % 80));
                b.resize(1 + next() % (b.size() - 1));
                return b;
            }
            case 2:  // a bare sync pair, and a hello prefix of the wrong length
                return Concat(
                    {Bytes{0x00, 0xFF}, Prefix(0x02, static_cast<int32_t>(next() % 100))});
            default: {
                Bytes b(next() % 3000);
                for (uint8_t& byte : b) {
                    byte = static_cast<uint8_t>(next() % 3 == 0 ? 0 : next());
                }
                return b;
            }
        }
    };
    for (int round = 0; round < 2000; ++round) {
        const uint32_t count = next() % 4;
        for (uint32_t i = 0; i < count; ++i) {
            Append(cutter, garbage(), sink);
        }
        sink.records.clear();
        const Bytes frame = next() % 2 == 0 ? EventFrame(round) : SplitFrame(round);
        Append(cutter, frame, sink);
        ASSERT_FALSE(sink.records.empty()) << "round " << round;
        EXPECT_EQ(sink.records.back().bytes, frame) << "round " << round;
    }
}

// The cutter feeding the registry, as the receive thread does.
TEST(FrameCutter, FeedsTheRegistry) {
    FakeClock clock;
    Registry registry(ProgramRole::Driver, clock);
    class RegistrySink final : public FrameSink {
    public:
        explicit RegistrySink(Registry& r) : registry(r) {}
        void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override {
            registry.Deliver(buffer, start, validBytes);
        }
        void OnHello() override {}
        Registry& registry;
    } sink(registry);
    FrameCutter cutter;
    const Bytes chunk = Concat({Bytes{0x01, 0x02, 0x03}, EventFrame(1), SplitFrame(27)});
    cutter.Append(chunk.data(), 50, sink);
    cutter.Append(chunk.data() + 50, chunk.size() - 50, sink);
    EXPECT_TRUE(registry.driverDoStop.ConsumeCounted());
    EXPECT_EQ(registry.splitState.Split0, 27);
}

}  // namespace
}  // namespace kv
