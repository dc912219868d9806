// Bytes in wire order, built field by field. Written independently of the library's encoders
// so that the tests compare against the protocol, not against the code under test.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::test {

using Bytes = std::vector<uint8_t>;

class ByteBuilder {
public:
    // 32 bits, least significant byte first.
    ByteBuilder& Int(int32_t value) {
        const auto u = static_cast<uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8) {
            bytes_.push_back(static_cast<uint8_t>((u >> shift) & 0xFF));
        }
        return *this;
    }
    ByteBuilder& Real(float value) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return RealBits(bits);
    }
    // A real given by its IEEE-754 bit pattern, so the expectation does not go through float.
    ByteBuilder& RealBits(uint32_t bits) { return Int(static_cast<int32_t>(bits)); }
    ByteBuilder& Flag(bool value) { return Byte(value ? 0x31 : 0x30); }
    ByteBuilder& Byte(uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    // The characters as given (at most n), then NUL bytes up to n. No "ABCD" substitution:
    // tests that expect it say so.
    ByteBuilder& Text(std::string_view text, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            bytes_.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
        }
        return *this;
    }
    ByteBuilder& Zeros(size_t n) {
        bytes_.insert(bytes_.end(), n, 0);
        return *this;
    }
    ByteBuilder& Append(const Bytes& more) {
        bytes_.insert(bytes_.end(), more.begin(), more.end());
        return *this;
    }
    const Bytes& Get() const { return bytes_; }
    size_t Size() const { return bytes_.size(); }

private:
    Bytes bytes_;
};

// The header words of a record frame as the protocol lays them out.
struct HeaderWords {
    int32_t sender = 1234;
    int32_t address = 8;
    int32_t payloadSize = 0;
    std::string kind = "EVENT";
    std::string object = "Driver";
    std::string topic = "DoStop";
    int32_t tag = 0;
    bool settable = false;
    int32_t eventValid = 0;
    int32_t sequence = 0;
    int32_t spare = 0;
};

// The header of an OBJECT record: the address and payload size its table row gives it.
inline HeaderWords ObjectHeader(int32_t address, int32_t payload, std::string object,
                                std::string topic, int32_t tag = 1, bool settable = false) {
    HeaderWords h;
    h.address = address;
    h.payloadSize = payload;
    h.kind = "OBJECT";
    h.object = std::move(object);
    h.topic = std::move(topic);
    h.tag = tag;
    h.settable = settable;
    return h;
}

// Prefix and 80-byte header (91 bytes) of a record frame.
inline ByteBuilder FrameHead(const HeaderWords& h) {
    ByteBuilder b;
    b.Byte(0x00).Byte(0xFF).Byte(0x10).Int(h.sender).Int(h.payloadSize + 91);
    b.Int(h.address).Int(h.payloadSize + 76);
    b.Text(h.kind, 16).Text(h.object, 16).Text(h.topic, 16);
    b.Int(h.payloadSize).Int(h.tag);
    b.Byte(h.settable ? 1 : 0).Byte(0).Byte(0).Byte(0);
    b.Int(h.eventValid).Int(h.sequence).Int(h.spare);
    return b;
}

// The parts one after the other, as one datagram.
inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

}  // namespace kv::test
