// Byte-level encodings shared by every record: the frame prefix, the record header and the
// primitive field encodings (all little-endian, whatever the host).
#pragma once

#include <array>
#include <atomic>
#include <bit>
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

// Whether bytes hold a hello or a whole record frame whose header agrees with its prefix (the
// remaining length is the frame length less 15): what the programs send, and what random bytes
// practically never hold.
inline bool HoldsFrame(const uint8_t* bytes, size_t length) {
    for (size_t i = 0; i + kPrefixSize <= length; ++i) {
        if (bytes[i] != kSync1 || bytes[i + 1] != kSync2) {
            continue;
        }
        const uint8_t* frame = bytes + i;
        const int32_t frameLength = GetInt(frame + kOffLength);
        const size_t rest = length - i;
        if (frame[kOffCommand] == kCommandHello && frameLength == kPrefixSize) {
            return true;
        }
        if (frame[kOffCommand] == kCommandRecord && frameLength >= kFrameHeader &&
            static_cast<size_t>(frameLength) <= rest &&
            GetInt(frame + kOffRemaining) == frameLength - kOffRemaining) {
            return true;
        }
    }
    return false;
}

}  // namespace wire

// Text fields are shared between threads like every other field, and their characters must be
// seen together: the characters are kept in atomic words of eight after a first word that
// counts the writes (odd while one is under way), so that a reader retries instead of taking
// half of two texts. Copies are whole as long as one thread at a time writes a given text.
namespace text {

using Word = uint64_t;
using Cell = std::atomic<Word>;
constexpr size_t kWordBytes = sizeof(Word);

// Cells for width characters and the NUL after them, behind the version cell.
constexpr size_t CellsFor(int32_t width) {
    return 1 + (static_cast<size_t>(width) + kWordBytes) / kWordBytes;
}

// Word w of the stored form of text: its characters, first in the lowest byte, then zeros.
inline Word WordOf(std::string_view text, size_t w) {
    const size_t first = w * kWordBytes;
    if constexpr (std::endian::native == std::endian::little) {
        if (first + kWordBytes <= text.size()) {
            Word word;
            std::memcpy(&word, text.data() + first, sizeof word);
            return word;
        }
    }
    Word word = 0;
    for (size_t b = 0; b < kWordBytes && first + b < text.size(); ++b) {
        word |= static_cast<Word>(static_cast<uint8_t>(text[first + b])) << (8 * b);
    }
    return word;
}

// Copies the text (up to the first NUL, at most width characters) into out as one whole;
// returns its length. Writes are short and come one datagram at a time, so a reader that met
// one tries again at once, and lets the writer run after a few tries.
inline int32_t Load(const Cell* cells, int32_t width, char* out) {
    constexpr int kSpins = 16;
    for (int attempt = 1;; ++attempt) {
        const Word before = cells[0].load(std::memory_order_acquire);
        int32_t used = 0;
        for (size_t w = 0; used < width; ++w) {
            // Acquire: a word from a later write brings that write's version with it.
            const Word word = cells[1 + w].load(std::memory_order_acquire);
            size_t b = 0;
            for (; b < kWordBytes && used < width; ++b) {
                const auto c = static_cast<char>(word >> (8 * b));
                if (c == '\0') {
                    break;
                }
                out[used++] = c;
            }
            if (b < kWordBytes) {
                break;  // the NUL, or the width reached
            }
        }
        if ((before & 1u) == 0 && cells[0].load(std::memory_order_relaxed) == before) {
            return used;
        }
        if (attempt % kSpins == 0) {
            std::this_thread::yield();
        }
    }
}

// Stores the text, cut to its first width characters, and its NUL. A text that is already
// there (a record header, parsed with every frame) is not written again.
inline void Store(Cell* cells, int32_t width, std::string_view text) {
    if (text.size() > static_cast<size_t>(width)) {
        text = text.substr(0, static_cast<size_t>(width));
    }
    const size_t count = text.size() / kWordBytes + 1;  // up to the word with the NUL
    size_t w = 0;
    while (w < count && cells[1 + w].load(std::memory_order_relaxed) == WordOf(text, w)) {
        ++w;
    }
    if (w == count) {
        return;
    }
    cells[0].fetch_add(1, std::memory_order_relaxed);
    // Release: whoever sees a word of this write also sees the odd version before it.
    for (w = 0; w < count; ++w) {
        cells[1 + w].store(WordOf(text, w), std::memory_order_release);
    }
    cells[0].fetch_add(1, std::memory_order_release);
}

// Writes the text as a text(width) field of the wire (see wire::PutText), without a copy.
inline void Put(const Cell* cells, int32_t width, uint8_t* out) {
    if (width <= 0) {
        return;
    }
    const int32_t used = Load(cells, width, reinterpret_cast<char*>(out));
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
    void Set(std::string_view text) { text::Store(cells_, N, text); }
    FixedText& operator=(std::string_view text) {
        Set(text);
        return *this;
    }
    // A copy of the text as it stands.
    std::string View() const {
        std::array<char, N> copy;
        return std::string(copy.data(), static_cast<size_t>(text::Load(cells_, N, copy.data())));
    }
    bool operator==(std::string_view other) const { return View() == other; }

private:
    friend struct TextRef;
    text::Cell cells_[text::CellsFor(N)] = {};
};

// A borrowed view of any FixedText, for code that handles fields without knowing N.
struct TextRef {
    template <int32_t N>
    TextRef(FixedText<N>& text)  // NOLINT: implicit by design
        : cells(text.cells_), width(N) {}

    std::string View() const {
        std::string copy(static_cast<size_t>(width), '\0');
        copy.resize(static_cast<size_t>(text::Load(cells, width, copy.data())));
        return copy;
    }
    void Set(std::string_view text) const { text::Store(cells, width, text); }
    // Writes the text as a text(width) field of the wire.
    void Put(uint8_t* out) const { text::Put(cells, width, out); }

    text::Cell* cells;
    int32_t width;
};

}  // namespace kv
