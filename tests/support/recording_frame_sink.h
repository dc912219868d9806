// What a frame cutter hands on, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/frame_cutter.h"

namespace kv::test {

class RecordingFrameSink final : public FrameSink {
public:
    struct Frame {
        std::vector<uint8_t> bytes;  // the frame as its length field gives it
        int32_t start;
        int32_t validBytes;
    };
    void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override {
        const int32_t length =
            static_cast<int32_t>(static_cast<uint32_t>(buffer[start + 7]) |
                                 static_cast<uint32_t>(buffer[start + 8]) << 8 |
                                 static_cast<uint32_t>(buffer[start + 9]) << 16 |
                                 static_cast<uint32_t>(buffer[start + 10]) << 24);
        records.push_back(
            {std::vector<uint8_t>(buffer + start, buffer + start + length), start, validBytes});
        events.push_back("record");
    }
    void OnHello() override {
        ++hellos;
        events.push_back("hello");
    }
    void OnSkipped(const uint8_t*, int32_t, SkipReason reason) override {
        skipped.push_back(reason);
        events.push_back("skipped");
    }
    void OnOverflow(size_t droppedBytes) override { dropped += droppedBytes; }

    std::vector<Frame> records;
    std::vector<SkipReason> skipped;
    std::vector<std::string> events;
    int hellos = 0;
    size_t dropped = 0;
};

}  // namespace kv::test
