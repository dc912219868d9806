// The frame cutter shared by the transport and the wire tool.
#include "protocol/frame_cutter.h"

#include <cstring>

#include "protocol/wire.h"

namespace kv {

bool FrameCutter::BeginsFrame(const uint8_t* bytes, size_t length) {
    if (bytes == nullptr || length < static_cast<size_t>(wire::kPrefixSize) ||
        bytes[0] != wire::kSync1 || bytes[1] != wire::kSync2) {
        return false;
    }
    const int32_t frameLength = wire::GetInt(bytes + wire::kOffLength);
    switch (bytes[wire::kOffCommand]) {
        case wire::kCommandHello:
            return frameLength == wire::kPrefixSize;
        case wire::kCommandRecord:
            return length >= static_cast<size_t>(wire::kFrameHeader) &&
                   frameLength >= wire::kFrameHeader && frameLength <= kCapacity &&
                   wire::GetInt(bytes + wire::kOffRemaining) == frameLength - wire::kOffRemaining;
        default:
            return false;
    }
}

void FrameCutter::Append(const uint8_t* bytes, size_t length, FrameSink& sink) {
    // Every complete frame was handed on by the last call, so what waits is an unfinished
    // frame (or bytes without a sync pair): a new frame start supersedes it.
    if (valid_ > 0 && BeginsFrame(bytes, length)) {
        sink.OnOverflow(valid_);
        valid_ = 0;
    }
    Store(bytes, length, sink);
    HandOnFrames(sink);
}

void FrameCutter::Store(const uint8_t* bytes, size_t length, FrameSink& sink) {
    // Make room: a datagram larger than the buffer keeps its last bytes, otherwise the oldest
    // buffered bytes go first.
    if (length >= kCapacity) {
        sink.OnOverflow(valid_ + length - kCapacity);
        bytes += length - kCapacity;
        length = kCapacity;
        valid_ = 0;
    } else if (valid_ + length > kCapacity) {
        const size_t drop = valid_ + length - kCapacity;
        std::memmove(buffer_.data(), buffer_.data() + drop, valid_ - drop);
        valid_ -= drop;
        sink.OnOverflow(drop);
    }
    if (length > 0) {
        std::memcpy(buffer_.data() + valid_, bytes, length);
        valid_ += length;
    }
}

bool FrameCutter::FindSync(size_t& i) const {
    const uint8_t* data = buffer_.data();
    const size_t lastStart = valid_ - wire::kPrefixSize;
    while (i <= lastStart) {
        const void* zero = std::memchr(data + i, wire::kSync1, lastStart - i + 1);
        if (zero == nullptr) {
            return false;
        }
        i = static_cast<size_t>(static_cast<const uint8_t*>(zero) - data);
        if (data[i + 1] == wire::kSync2) {
            return true;
        }
        ++i;
    }
    return false;
}

void FrameCutter::HandOnFrames(FrameSink& sink) {
    // Frames are consumed from `front`; the remainder moves to index 0 once at the end.
    const uint8_t* data = buffer_.data();
    size_t front = 0;
    while (valid_ - front >= static_cast<size_t>(wire::kPrefixSize)) {
        size_t i = front;
        if (!FindSync(i)) {
            break;
        }
        const uint8_t command = data[i + wire::kOffCommand];
        const int32_t length32 = wire::GetInt(data + i + wire::kOffLength);
        const int32_t minimum =
            command == wire::kCommandRecord ? wire::kFrameHeader : wire::kPrefixSize;
        if (length32 < minimum || length32 > kCapacity) {
            sink.OnSkipped(data, static_cast<int32_t>(i), SkipReason::BadLength);
            front = i + wire::kPrefixSize;
            continue;
        }
        const auto frameLength = static_cast<size_t>(length32);
        if (valid_ - i < frameLength) {
            front = i;  // wait for the rest of this frame
            break;
        }
        if (command == wire::kCommandRecord) {
            sink.OnRecordFrame(data, static_cast<int32_t>(i), static_cast<int32_t>(valid_));
            front = i + frameLength;
        } else if (command == wire::kCommandHello) {
            sink.OnHello();
            front = i + frameLength;
        } else {
            sink.OnSkipped(data, static_cast<int32_t>(i), SkipReason::UnknownCommand);
            front = i + wire::kPrefixSize;
        }
    }

    if (front > 0) {
        std::memmove(buffer_.data(), buffer_.data() + front, valid_ - front);
        valid_ -= front;
    }
}

}  // namespace kv
