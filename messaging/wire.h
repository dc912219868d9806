// Byte-level encodings shared by every record: the frame prefix, the record header and the
// primitive field encodings (all little-endian, whatever the host).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

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

// Text fields are shared between threads like every other field, and their characters must be
// seen together: each character is an atomic of its own, and a version counts the writes (odd
// while one is under way), so that a reader retries instead of taking half of two texts.
namespace text {

// Copies the text (up to the first NUL, at most width characters) into out as one whole;
// returns its length. Writes are short and come one datagram at a time, so a reader that met
// one tries again at once, and lets the writer run after a few tries.
inline int32_t Load(const std::atomic<char>* chars, const std::atomic<uint32_t>& version,
                    int32_t width, char* out) {
    constexpr int kSpins = 16;
    int32_t used = 0;
    for (int attempt = 1;; ++attempt) {
        const uint32_t before = version.load(std::memory_order_acquire);
        used = 0;
        while (used < width) {
            // Acquire: a character from a later write brings that write's version with it.
            const char c = chars[used].load(std::memory_order_acquire);
            if (c == '\0') {
                break;
            }
            out[used++] = c;
        }
        if ((before & 1u) == 0 && version.load(std::memory_order_relaxed) == before) {
            return used;
        }
        if (attempt % kSpins == 0) {
            std::this_thread::yield();
        }
    }
}

// Stores the text, cut to its first width characters, and its NUL.
inline void Store(std::atomic<char>* chars, std::atomic<uint32_t>& version, int32_t width,
                  std::string_view text) {
    const size_t used =
        text.size() < static_cast<size_t>(width) ? text.size() : static_cast<size_t>(width);
    version.fetch_add(1, std::memory_order_relaxed);
    // Release: whoever sees a character of this write also sees the odd version before it.
    for (size_t i = 0; i < used; ++i) {
        chars[i].store(text[i], std::memory_order_release);
    }
    chars[used].store('\0', std::memory_order_release);
    version.fetch_add(1, std::memory_order_release);
}

// Writes the text as a text(width) field of the wire (see wire::PutText), without a copy.
inline void Put(const std::atomic<char>* chars, const std::atomic<uint32_t>& version, int32_t width,
                uint8_t* out) {
    if (width <= 0) {
        return;
    }
    const int32_t used = Load(chars, version, width, reinterpret_cast<char*>(out));
    if (used == 0) {
        wire::PutText(out, std::string_view{}, width);
        return;
    }
    std::memset(out + used, 0, static_cast<size_t>(width - used));
}

}  // namespace text

// A fixed-width text field of at most N characters, always NUL-terminated in memory.
// Fixed storage keeps records free of allocation and safe to overwrite from the receive thread.
template <int32_t N>
class FixedText {
public:
    static constexpr int32_t kWidth = N;

    FixedText() = default;
    FixedText(std::string_view text) { Set(text); }  // NOLINT: texts are assigned from literals
    FixedText(const FixedText& other) { Set(other.View()); }
    FixedText& operator=(const FixedText& other) {
        if (this != &other) {
            Set(other.View());
        }
        return *this;
    }

    // Stores the text, cut to its first N characters.
    void Set(std::string_view text) { text::Store(chars_, version_, N, text); }
    FixedText& operator=(std::string_view text) {
        Set(text);
        return *this;
    }
    // A copy of the text as it stands.
    std::string View() const {
        std::array<char, N> copy;
        return std::string(copy.data(),
                           static_cast<size_t>(text::Load(chars_, version_, N, copy.data())));
    }
    bool StartsWith(std::string_view prefix) const {
        std::array<char, N> copy;
        const auto used = static_cast<size_t>(text::Load(chars_, version_, N, copy.data()));
        return std::string_view(copy.data(), used).substr(0, prefix.size()) == prefix;
    }
    bool operator==(std::string_view other) const { return View() == other; }

private:
    friend struct TextRef;
    std::atomic<char> chars_[N + 1] = {};
    std::atomic<uint32_t> version_{0};
};

// A borrowed view of any FixedText, for code that handles fields without knowing N.
struct TextRef {
    template <int32_t N>
    TextRef(FixedText<N>& text)  // NOLINT: implicit by design
        : chars(text.chars_), version(&text.version_), width(N) {}

    std::string View() const {
        std::string copy(static_cast<size_t>(width), '\0');
        copy.resize(static_cast<size_t>(text::Load(chars, *version, width, copy.data())));
        return copy;
    }
    void Set(std::string_view text) const { text::Store(chars, *version, width, text); }
    // Writes the text as a text(width) field of the wire.
    void Put(uint8_t* out) const { text::Put(chars, *version, width, out); }

    std::atomic<char>* chars;
    std::atomic<uint32_t>* version;
    int32_t width;
};

}  // namespace kv
