// Cutting received datagrams into frames, through a real socket: several frames in one
// datagram, garbage, frames split across datagrams, unknown commands, bad lengths, overflow.
#include <gtest/gtest.h>

#include "protocol/frame_cutter.h"
#include "tests/support/byte_builder.h"
#include "tests/transport/controller_endpoint_rig.h"

namespace kv::test {
namespace {

// A controller endpoint, so that no publish-all mixes into what the driver's socket sees.
class FrameCutting : public ControllerEndpointRig {
protected:
    Bytes Status(float value) {
        encoder.senseStatus.Value = value;
        return FrameOf(encoder.senseStatus, encoder);
    }

    Bytes HeartBeat(int32_t sequence) {
        encoder.driverDoHeartBeat.header.sequence = sequence;
        return FrameOf(encoder.driverDoHeartBeat, encoder);
    }

    // A bare prefix with the given command and frame length.
    static Bytes Prefix(uint8_t command, int32_t length) {
        Bytes prefix(wire::kPrefixSize);
        wire::PutPrefix(prefix.data(), command, wire::kSenderDriver, length);
        return prefix;
    }
};

TEST_F(FrameCutting, FramesSharingADatagramAreDeliveredInOrder) {
    Deliver(Concat({Status(1.5f), HeartBeat(7), Status(2.5f)}));
    EXPECT_EQ(controller.senseStatus.Value, 2.5f);
    EXPECT_EQ(controller.driverDoHeartBeat.header.sequence, 7);
    EXPECT_EQ(network->BufferedBytes(), 0u);
}

TEST_F(FrameCutting, GarbageBeforeAFrameIsSkipped) {
    Deliver(Concat({Bytes{0x01, 0xFF, 0x7E}, Status(3.5f)}));
    EXPECT_EQ(controller.senseStatus.Value, 3.5f);
    EXPECT_EQ(network->BufferedBytes(), 0u);
}

TEST_F(FrameCutting, FrameSplitAcrossDatagramsWaitsForItsRest) {
    float value = 10.0f;
    for (const size_t cut : {size_t{1}, size_t{2}, size_t{7}, size_t{11}, size_t{50}, size_t{98}}) {
        value += 1.0f;
        const Bytes frame = Status(value);
        ASSERT_LT(cut, frame.size());
        Deliver(Bytes(frame.begin(), frame.begin() + static_cast<long>(cut)));
        EXPECT_NE(controller.senseStatus.Value, value) << "cut at " << cut;
        EXPECT_EQ(network->BufferedBytes(), cut);
        Deliver(Bytes(frame.begin() + static_cast<long>(cut), frame.end()));
        EXPECT_EQ(controller.senseStatus.Value, value) << "cut at " << cut;
        EXPECT_EQ(network->BufferedBytes(), 0u);
    }
}

TEST_F(FrameCutting, UnknownCommandLosesOnlyItsPrefix) {
    Bytes odd = HeartBeat(9);
    ASSERT_EQ(odd.size(), 91u);
    odd[wire::kOffCommand] = 0x11;
    Deliver(odd);
    EXPECT_EQ(controller.driverDoHeartBeat.header.sequence, 0);

    // A frame right behind it in the same datagram still arrives.
    Deliver(Concat({odd, Status(4.5f)}));
    EXPECT_EQ(controller.driverDoHeartBeat.header.sequence, 0);
    EXPECT_EQ(controller.senseStatus.Value, 4.5f);
    EXPECT_EQ(network->BufferedBytes(), 0u);
}

TEST_F(FrameCutting, ImpossibleLengthsNeitherStallNorOverrun) {
    // A record needs its 80-byte header as well; a hello of 50 bytes is a hello of 50 bytes.
    const struct {
        uint8_t command;
        std::vector<int32_t> lengths;
    } cases[] = {
        {wire::kCommandRecord, {0, 5, 10, 11, 50, 90, 30001, 40000, -1, INT32_MIN}},
        {wire::kCommandHello, {0, 5, 10, 30001, 40000, -1, INT32_MIN}},
    };
    float value = 20.0f;
    for (const auto& each : cases) {
        for (const int32_t length : each.lengths) {
            value += 1.0f;
            Deliver(Concat({Prefix(each.command, length), Status(value)}));
            EXPECT_EQ(controller.senseStatus.Value, value)
                << "length " << length << " command " << int{each.command};
            EXPECT_EQ(network->BufferedBytes(), 0u);
        }
    }
}

TEST_F(FrameCutting, LongRunsWithoutAFrameNeverOverrunTheBuffer) {
    const Bytes noise(20000, 0xA5);
    for (int i = 0; i < 4; ++i) {
        Deliver(noise);
        EXPECT_LE(network->BufferedBytes(), size_t{FrameCutter::kCapacity});
    }
    Deliver(Status(5.5f));
    EXPECT_EQ(controller.senseStatus.Value, 5.5f);
}

TEST_F(FrameCutting, AnUnfinishedLongFrameIsDroppedWhenTheBufferFills) {
    // A prefix promising 29000 bytes that never come, then a flood of other bytes.
    Deliver(Concat({Prefix(wire::kCommandRecord, 29000), Bytes(5000, 0xA5)}));
    EXPECT_EQ(network->BufferedBytes(), 5011u);
    for (int i = 0; i < 2; ++i) {
        Deliver(Bytes(20000, 0x5A));
        EXPECT_LE(network->BufferedBytes(), size_t{FrameCutter::kCapacity});
    }
    Deliver(Status(6.5f));
    EXPECT_EQ(controller.senseStatus.Value, 6.5f);
}

TEST_F(FrameCutting, OversizedDatagramDoesNotDisturbTheNextOne) {
    // Larger than the receive buffer: what does not fit is lost with the datagram.
    Deliver(Concat({Status(7.5f), Bytes(40000, 0x33)}));
    EXPECT_LE(network->BufferedBytes(), size_t{FrameCutter::kCapacity});
    Deliver(Status(8.5f));
    EXPECT_EQ(controller.senseStatus.Value, 8.5f);
}

}  // namespace
}  // namespace kv::test
