// Frames built by hand, byte by byte, to hold kvctl's encoder to the wire format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvtest {

class Bytes {
public:
    Bytes& U8(uint8_t byte) {
        data.push_back(byte);
        return *this;
    }
    // 32 bits, least significant byte first.
    Bytes& Le32(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            data.push_back(static_cast<uint8_t>((value >> shift) & 0xFF));
        }
        return *this;
    }
    Bytes& Int(int32_t value) { return Le32(static_cast<uint32_t>(value)); }
    // A real given by its IEEE-754 bit pattern, so the expectation does not go through float.
    Bytes& RealBits(uint32_t bits) { return Le32(bits); }
    Bytes& Flag(bool value) { return U8(value ? 0x31 : 0x30); }
    Bytes& Text(std::string_view text, size_t width) {
        for (size_t i = 0; i < width; ++i) {
            data.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
        }
        return *this;
    }
    Bytes& Zeros(size_t count) {
        data.insert(data.end(), count, 0);
        return *this;
    }

    std::vector<uint8_t> data;
};

struct HeaderWords {
    int32_t sender = 1234;
    int32_t address = 0;
    int32_t payload = 0;
    std::string_view kind;
    std::string_view object;
    std::string_view topic;
    int32_t tag = 0;
    bool settable = false;
    int32_t eventValid = 0;
    int32_t sequence = 0;
};

// The 91 bytes of prefix and record header.
inline Bytes RecordStart(const HeaderWords& h) {
    Bytes b;
    b.U8(0x00).U8(0xFF).U8(0x10).Int(h.sender).Int(91 + h.payload);
    b.Int(h.address).Int(76 + h.payload);
    b.Text(h.kind, 16).Text(h.object, 16).Text(h.topic, 16);
    b.Int(h.payload).Int(h.tag).U8(h.settable ? 1 : 0).Zeros(3);
    b.Int(h.eventValid).Int(h.sequence).Int(0);
    return b;
}

inline std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace kvtest
