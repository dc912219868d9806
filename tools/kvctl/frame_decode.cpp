// Frame decoding for kvctl: kv::FrameCutter for the cutting, Registry::Deliver for the parsing.
#include "tools/kvctl/frame_decode.h"

#include <cstdio>

#include "protocol/registry.h"
#include "protocol/wire.h"
#include "tools/kvctl/record_json.h"

namespace kv::kvctl {

namespace {

void AppendNumber(std::string& out, int64_t value) {
    out += std::to_string(value);
}

std::string ErrorLine(std::string_view message) {
    std::string line = "{\"error\": ";
    AppendJsonString(line, message);
    line += "}\n";
    return line;
}

// Turns the cutter's callbacks into JSON lines. The cutter's buffer holds the datagram from
// `offset` on (only a datagram larger than the buffer loses its front), so positions in it
// map back to the datagram.
class JsonSink final : public FrameSink {
public:
    JsonSink(const uint8_t* datagram, size_t length, std::ostream& out)
        : datagram_(datagram),
          length_(length),
          offset_(length > FrameCutter::kCapacity ? length - FrameCutter::kCapacity : 0),
          front_(offset_),
          out_(out) {}

    void OnRecordFrame(const uint8_t* buffer, int32_t start, int32_t validBytes) override {
        const uint8_t* frame = buffer + start;
        const int32_t sender = wire::GetInt(frame + wire::kOffSender);
        const int32_t length = wire::GetInt(frame + wire::kOffLength);
        front_ = offset_ + static_cast<size_t>(start) + static_cast<size_t>(length);

        // A fresh registry per frame: what a receiver holds after this one frame, with no
        // leftovers from earlier frames in the header or fields.
        auto registry = std::make_unique<Registry>(ProgramRole::Controller);
        const int32_t address = wire::GetInt(frame + wire::kOffAddress);
        const DeliverResult delivered = registry->Deliver(buffer, start, validBytes);
        if (delivered.record == nullptr) {
            Error("no record has address " + std::to_string(address) + " (frame of " +
                  std::to_string(length) + " bytes from sender " + std::to_string(sender) +
                  "): dropped");
            return;
        }
        std::string line = "{\"command\": \"record\", \"sender\": ";
        AppendNumber(line, sender);
        line += ", \"length\": ";
        AppendNumber(line, length);
        line += ", ";
        AppendHeaderMembers(*delivered.record, line);
        line += ", \"parsed\": ";
        line += delivered.parsed ? "true" : "false";
        // Parse stopped before the payload: the fields hold nothing from this frame.
        line += ", \"fields\": ";
        if (delivered.parsed) {
            AppendFieldsJson(*delivered.record, line);
        } else {
            line += "null";
        }
        line += "}\n";
        out_ << line;
    }

    // The cutter does not say where the hello was; it is at the first sync pair from where
    // the last frame ended, found by the cutter's own rule.
    void OnHello() override {
        size_t i = front_;
        while (i + wire::kPrefixSize <= length_ &&
               !(datagram_[i] == wire::kSync1 && datagram_[i + 1] == wire::kSync2)) {
            ++i;
        }
        if (i + wire::kPrefixSize > length_) {
            Error("hello frame not found in the datagram");
            return;
        }
        const int32_t sender = wire::GetInt(datagram_ + i + wire::kOffSender);
        const int32_t length = wire::GetInt(datagram_ + i + wire::kOffLength);
        front_ = i + static_cast<size_t>(length);
        std::string line = "{\"command\": \"hello\", \"sender\": ";
        AppendNumber(line, sender);
        line += ", \"length\": ";
        AppendNumber(line, length);
        line += "}\n";
        out_ << line;
    }

    void OnSkipped(const uint8_t* buffer, int32_t start, SkipReason reason) override {
        const uint8_t* prefix = buffer + start;
        front_ = offset_ + static_cast<size_t>(start) + wire::kPrefixSize;
        const int32_t length = wire::GetInt(prefix + wire::kOffLength);
        const int command = prefix[wire::kOffCommand];
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02x", command);
        if (reason == SkipReason::UnknownCommand) {
            Error(std::string("unknown command ") + hex + " (frame of " + std::to_string(length) +
                  " bytes): only its prefix was consumed");
        } else {
            Error(std::string("bad frame length ") + std::to_string(length) + " for command " +
                  hex + ": only its prefix was consumed");
        }
    }

    void OnOverflow(size_t droppedBytes) override {
        Error(std::to_string(droppedBytes) + " bytes dropped: the receive buffer holds " +
              std::to_string(FrameCutter::kCapacity));
    }

    void LeftOver(size_t buffered) {
        const uint8_t* rest = datagram_ + (length_ - buffered);
        if (buffered >= static_cast<size_t>(wire::kPrefixSize) && rest[0] == wire::kSync1 &&
            rest[1] == wire::kSync2) {
            Error("incomplete frame: " + std::to_string(buffered) + " of " +
                  std::to_string(wire::GetInt(rest + wire::kOffLength)) + " bytes");
        } else {
            Error(std::to_string(buffered) + " bytes left over without a whole frame");
        }
    }

    bool Ok() const { return ok_; }

private:
    void Error(const std::string& message) {
        ok_ = false;
        out_ << ErrorLine(message);
    }

    const uint8_t* datagram_;
    size_t length_;
    size_t offset_;
    size_t front_;
    std::ostream& out_;
    bool ok_ = true;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

DatagramDecoder::DatagramDecoder() : cutter_(std::make_unique<FrameCutter>()) {}

bool DatagramDecoder::Decode(const uint8_t* bytes, size_t length, std::ostream& out) {
    cutter_->Clear();
    JsonSink sink(bytes, length, out);
    cutter_->Append(bytes, length, sink);
    if (cutter_->Buffered() > 0) {
        sink.LeftOver(cutter_->Buffered());
        cutter_->Clear();
    }
    return sink.Ok();
}

bool ParseHex(std::string_view text, std::vector<uint8_t>& bytes, std::string& error) {
    bytes.clear();
    int high = -1;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        }
        const int value = HexValue(c);
        if (value < 0) {
            error = "not a hex digit at position " + std::to_string(i + 1);
            return false;
        }
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0) {
        error = "odd number of hex digits";
        return false;
    }
    return true;
}

}  // namespace kv::kvctl
