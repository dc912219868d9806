// OSC 1.0 bundles written into a fixed buffer: the encoding the TUIO output needs (strings,
// 32-bit integers and floats, big-endian, padded to four bytes), with no allocation per frame
// and the same bytes on every architecture. What does not fit marks the writer failed; the
// caller drops that bundle.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace TUIO {

class OscWriter {
public:
    static constexpr std::size_t kCapacity = 1500;

    void Clear();
    // "#bundle", the time tag "immediately".
    void BeginBundleImmediate();
    void BeginMessage(const char* address);
    void String(const char* text);
    void Int32(int32_t value);
    void Float(float value);
    // Writes the message (its size, address, type tags and arguments) into the bundle.
    void EndMessage();

    // False once anything did not fit; cleared by Clear().
    bool Ok() const { return ok_; }
    const char* Data() const { return bundle_.data(); }
    std::size_t Size() const { return size_; }
    std::size_t Capacity() const { return bundle_.size(); }

private:
    bool Put(const void* bytes, std::size_t length);
    bool PutPadded(const char* text, std::size_t length);
    void PutWord(uint32_t word, char tag);

    std::array<char, kCapacity> bundle_{};
    std::size_t size_ = 0;
    // The message being written: its address, type tags and arguments, until EndMessage.
    const char* address_ = nullptr;
    std::array<char, kCapacity> tags_{};
    std::size_t tagCount_ = 0;
    std::array<char, kCapacity> arguments_{};
    std::size_t argumentSize_ = 0;
    bool ok_ = true;
};

}  // namespace TUIO
