// Byte-level encodings shared by every record: the frame prefix, the record header and the
// primitive field encodings (all little-endian, whatever the host).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace kv {

namespace wire {

constexpr uint8_t kSync1 = 0x00;
constexpr uint8_t kSync2 = 0xFF;
constexpr uint8_t kCommandRecord = 0x10;
constexpr uint8_t kCommandHello = 0x02;

constexpr int32_t kPrefixSize = 11;   // sync, sync, command, sender, frame length
constexpr int32_t kFrameHeader = 91;  // prefix plus the 80-byte record header
constexpr int32_t kTextShort = 16;

constexpr int32_t kSenderDriver = 5555;
constexpr int32_t kSenderController = 1234;

// Frame offsets.
constexpr int32_t kOffCommand = 2;
constexpr int32_t kOffSender = 3;
constexpr int32_t kOffLength = 7;
constexpr int32_t kOffAddress = 11;
constexpr int32_t kOffRemaining = 15;
constexpr int32_t kOffKind = 19;
constexpr int32_t kOffObject = 35;
constexpr int32_t kOffTopic = 51;
constexpr int32_t kOffPayloadSize = 67;
constexpr int32_t kOffTag = 71;
constexpr int32_t kOffSettable = 75;
constexpr int32_t kOffEventValid = 79;
constexpr int32_t kOffSequence = 83;
constexpr int32_t kOffSpare = 87;

inline void PutInt(uint8_t* out, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    out[0] = static_cast<uint8_t>(u);
    out[1] = static_cast<uint8_t>(u >> 8);
    out[2] = static_cast<uint8_t>(u >> 16);
    out[3] = static_cast<uint8_t>(u >> 24);
}

inline int32_t GetInt(const uint8_t* in) {
    const uint32_t u = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
                       static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
    return static_cast<int32_t>(u);
}

inline void PutReal(uint8_t* out, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutInt(out, static_cast<int32_t>(bits));
}

inline float GetReal(const uint8_t* in) {
    const auto bits = static_cast<uint32_t>(GetInt(in));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void PutFlag(uint8_t* out, bool value) {
    *out = value ? '1' : '0';
}

// text(N): the characters, NUL-padded to N; cut to N without a NUL; empty written as "ABCD".
inline void PutText(uint8_t* out, std::string_view text, int32_t n) {
    if (n <= 0) {  // no field to fill (and no huge pad length from a negative width)
        return;
    }
    if (text.empty()) {
        text = "ABCD";
    }
    const size_t used = text.size() < static_cast<size_t>(n) ? text.size() : static_cast<size_t>(n);
    std::memcpy(out, text.data(), used);
    std::memset(out + used, 0, static_cast<size_t>(n) - used);
}

// The 11-byte prefix of every frame.
inline void PutPrefix(uint8_t* out, uint8_t command, int32_t sender, int32_t frameLength) {
    out[0] = kSync1;
    out[1] = kSync2;
    out[2] = command;
    PutInt(out + kOffSender, sender);
    PutInt(out + kOffLength, frameLength);
}

// The hello datagram: a bare prefix with command 0x02 and length 11.
inline std::array<uint8_t, kPrefixSize> HelloDatagram(int32_t sender) {
    std::array<uint8_t, kPrefixSize> hello{};
    PutPrefix(hello.data(), kCommandHello, sender, kPrefixSize);
    return hello;
}

}  // namespace wire

// A fixed-width text field of at most N characters, always NUL-terminated in memory.
// Fixed storage keeps records free of allocation and safe to overwrite from the receive thread.
template <int32_t N>
struct FixedText {
    static constexpr int32_t kWidth = N;
    char data[N + 1] = {};

    FixedText() = default;
    FixedText(std::string_view text) { Set(text); }  // NOLINT: texts are assigned from literals

    // Stores the text, cut to its first N characters.
    void Set(std::string_view text) {
        const size_t used = text.size() < static_cast<size_t>(N) ? text.size() : N;
        if (used > 0) {  // an empty view may carry a null pointer, which memcpy must not get
            std::memcpy(data, text.data(), used);
        }
        data[used] = '\0';
    }
    FixedText& operator=(std::string_view text) {
        Set(text);
        return *this;
    }
    std::string_view View() const { return std::string_view(data, std::strlen(data)); }
    const char* c_str() const { return data; }
    bool operator==(std::string_view other) const { return View() == other; }
};

// A borrowed view of any FixedText, for code that handles fields without knowing N.
struct TextRef {
    char* data;
    int32_t width;

    template <int32_t N>
    TextRef(FixedText<N>& text) : data(text.data), width(N) {}  // NOLINT: implicit by design

    std::string_view View() const { return std::string_view(data, std::strlen(data)); }
    void Set(std::string_view text) const {
        const size_t used =
            text.size() < static_cast<size_t>(width) ? text.size() : static_cast<size_t>(width);
        if (used > 0) {
            std::memcpy(data, text.data(), used);
        }
        data[used] = '\0';
    }
};

}  // namespace kv
