// Parsing frames that end early or lie about their size: reads stay inside the received
// bytes, missing integers read 0, and invalid headers stop before the payload. Both programs
// parse alike; the cases read into the Controller's registry, which takes every record (the
// driver's takes only what a peer may write, into scratch copies: all cuts below).
#include <gtest/gtest.h>

#include <memory>

#include "protocol/registry.h"
#include "tests/support/byte_builder.h"
#include "tests/support/fake_clock.h"

namespace kv {
namespace {

using test::ByteBuilder;
using test::Bytes;
using test::FakeClock;
using test::HeaderWords;

HeaderWords SplitHeader() {
    return test::ObjectHeader(5764, 24, "Split", "State");
}

// The Controller's registry that the frames are read into.
class ParseBounds : public ::testing::Test {
protected:
    FakeClock clock;
    Registry registry{ProgramRole::Controller, clock};
};

TEST_F(ParseBounds, IntegersBeyondTheDataReadZeroAndKeepTheCursor) {
    const Bytes frame =
        test::FrameHead(SplitHeader()).Int(24).Int(21).Int(41).Int(1).Int(1).Int(0).Get();
    // The data ends two bytes into Split1.
    const int32_t valid = 91 + 4 + 4 + 2;
    const DeliverResult result = registry.Deliver(frame.data(), 0, valid);
    EXPECT_TRUE(result.parsed);
    EXPECT_EQ(registry.splitState.Split0, 21);
    EXPECT_EQ(registry.splitState.Split1, 0);
    EXPECT_EQ(registry.splitState.Flip0, 0);
    EXPECT_EQ(registry.splitState.Flip1, 0);
    EXPECT_EQ(registry.splitState.Flip2, 0);
    EXPECT_EQ(registry.splitState.Cursor(), 91 + 8);
}

TEST_F(ParseBounds, OneByteFieldsBeyondTheDataReadFalse) {
    HeaderWords h = SplitHeader();
    h.address = 6458;
    h.payloadSize = 27;
    h.object = "Calib";
    h.topic = "Ref_TL";
    const Bytes frame = test::FrameHead(h)
                            .Int(27)
                            .Flag(true)
                            .Flag(true)
                            .Flag(true)
                            .Int(5)
                            .Real(1.0f)
                            .Real(2.0f)
                            .Real(3.0f)
                            .Real(4.0f)
                            .Get();
    CalibrationData& rec = registry.calibRefTL;
    rec.RefValue = 9;
    rec.SA = 9.0f;
    registry.Deliver(frame.data(), 0, 91 + 4 + 2);
    EXPECT_TRUE(rec.RefFlag0);
    EXPECT_TRUE(rec.RefFlag1);
    EXPECT_FALSE(rec.RefFlag2);
    EXPECT_EQ(rec.RefValue, 0);
    EXPECT_EQ(rec.SA, 0.0f);
    EXPECT_EQ(rec.SY, 0.0f);
}

TEST_F(ParseBounds, HeaderCutShortLeavesLaterHeaderWordsZero) {
    HeaderWords h = SplitHeader();
    h.eventValid = 1;
    h.sequence = 5;
    const Bytes frame = test::FrameHead(h).Int(24).Int(1).Int(2).Int(3).Int(4).Int(5).Get();
    registry.splitState.header.sequence = 77;
    registry.Deliver(frame.data(), 0, 83);  // ends before the sequence word
    EXPECT_EQ(registry.splitState.header.eventValid, 1);
    EXPECT_EQ(registry.splitState.header.sequence, 0);
    EXPECT_EQ(registry.splitState.Split0, 0);
}

TEST_F(ParseBounds, RemainingLengthZeroStopsBeforeTheKind) {
    Bytes frame = test::FrameHead(SplitHeader()).Int(24).Int(1).Int(2).Int(3).Int(4).Int(5).Get();
    frame[15] = frame[16] = frame[17] = frame[18] = 0;
    registry.splitState.header.tag = 42;
    const DeliverResult result =
        registry.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
    EXPECT_EQ(result.record, &registry.splitState);
    EXPECT_FALSE(result.parsed);
    EXPECT_EQ(registry.splitState.Split0, 12);
    EXPECT_EQ(registry.splitState.header.tag, 42);
    EXPECT_EQ(registry.splitState.header.kind.View(), "OBJECT");
}

TEST_F(ParseBounds, EndKindStopsAfterTheKind) {
    for (const char* kind : {"END", "ENDING"}) {
        HeaderWords h = SplitHeader();
        h.kind = kind;
        h.object = "Other";
        const Bytes frame = test::FrameHead(h).Int(24).Int(1).Int(2).Int(3).Int(4).Int(5).Get();
        const DeliverResult result =
            registry.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size()));
        EXPECT_FALSE(result.parsed) << kind;
        EXPECT_EQ(registry.splitState.header.kind.View(), kind);
        EXPECT_EQ(registry.splitState.header.object.View(), "Split");
        EXPECT_EQ(registry.splitState.Split0, 12);
    }
    // "EN" is not the end word.
    HeaderWords h = SplitHeader();
    h.kind = "EN";
    const Bytes frame = test::FrameHead(h).Int(24).Int(1).Int(2).Int(3).Int(4).Int(5).Get();
    EXPECT_TRUE(registry.Deliver(frame.data(), 0, static_cast<int32_t>(frame.size())).parsed);
    EXPECT_EQ(registry.splitState.Split0, 1);
}

TEST_F(ParseBounds, EventWithEndKindIsNotAnArrival) {
    HeaderWords h;
    h.address = 404;
    h.kind = "END";
    h.eventValid = 1;
    h.sequence = 3;
    const Bytes frame = test::FrameHead(h).Get();
    EXPECT_FALSE(registry.Deliver(frame.data(), 0, 91).parsed);
    EXPECT_EQ(registry.storeDoSave.arrival, 0);
    EXPECT_FALSE(registry.storeDoSave.ConsumeCounted());
}

// Every registered record, every cut of its frame, into the driver's registry: the bytes live
// in a heap block of exactly the valid length, so any read past it is caught by the address
// sanitizer, and every cut also claims the full frame length in its prefix and header.
TEST_F(ParseBounds, NoReadPastTheValidBytesForAnyCut) {
    Registry& sender = registry;
    Registry receiver(ProgramRole::Driver, clock);
    sender.commsActStatus.StatusText = "status";
    for (const TableEntry& entry : sender.Table()) {
        const int32_t size = entry.record->FrameSize();
        Bytes full(static_cast<size_t>(size));
        entry.record->WriteFrame(full.data(), sender.SenderId());
        for (int32_t valid = 0; valid <= size; ++valid) {
            // Long frames: every cut through the header and first fields, then a sample.
            if (valid > 200 && valid < size - 8 && valid % 97 != 0) {
                continue;
            }
            auto exact = std::make_unique<uint8_t[]>(static_cast<size_t>(valid));
            std::copy(full.begin(), full.begin() + valid, exact.get());
            const DeliverResult result = receiver.Deliver(exact.get(), 0, valid);
            if (valid < 15) {
                EXPECT_EQ(result.record, nullptr) << entry.object << entry.topic << " " << valid;
            } else {
                DataManipulation* target = receiver.FindByAddress(entry.address)->record;
                EXPECT_EQ(result.record, target);
                EXPECT_LE(target->Cursor(), size);
            }
        }
    }
}

// A frame at an offset in a larger buffer: the reads are bounded by the buffer's valid
// bytes, and a shorter claimed length does not move the bound.
TEST_F(ParseBounds, FrameInsideABufferIsReadFromItsStart) {
    const Bytes frame =
        test::FrameHead(SplitHeader()).Int(24).Int(7).Int(8).Int(9).Int(10).Int(11).Get();
    Bytes buffer = ByteBuilder().Zeros(13).Append(frame).Get();
    const DeliverResult result =
        registry.Deliver(buffer.data(), 13, static_cast<int32_t>(buffer.size()));
    ASSERT_EQ(result.record, &registry.splitState);
    EXPECT_EQ(registry.splitState.Split0, 7);
    EXPECT_EQ(registry.splitState.Flip2, 11);
}

}  // namespace
}  // namespace kv
