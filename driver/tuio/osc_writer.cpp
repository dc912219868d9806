// OSC 1.0 encoding into fixed buffers.
#include "driver/tuio/osc_writer.h"

#include <cstring>

namespace TUIO {

namespace {

// The bytes a string takes: itself, its terminating zero, zeros up to a multiple of four.
std::size_t Padded(std::size_t length) {
    return (length + 4) & ~std::size_t{3};
}

void BigEndian(uint32_t word, char* out) {
    out[0] = static_cast<char>(word >> 24);
    out[1] = static_cast<char>(word >> 16);
    out[2] = static_cast<char>(word >> 8);
    out[3] = static_cast<char>(word);
}

}  // namespace

void OscWriter::Clear() {
    size_ = 0;
    address_ = nullptr;
    tagCount_ = 0;
    argumentSize_ = 0;
    ok_ = true;
}

bool OscWriter::Put(const void* bytes, std::size_t length) {
    if (!ok_ || length > bundle_.size() - size_) {
        ok_ = false;
        return false;
    }
    std::memcpy(bundle_.data() + size_, bytes, length);
    size_ += length;
    return true;
}

bool OscWriter::PutPadded(const char* text, std::size_t length) {
    const std::size_t padded = Padded(length);
    if (!ok_ || padded > bundle_.size() - size_) {
        ok_ = false;
        return false;
    }
    std::memcpy(bundle_.data() + size_, text, length);
    std::memset(bundle_.data() + size_ + length, 0, padded - length);
    size_ += padded;
    return true;
}

void OscWriter::BeginBundleImmediate() {
    static constexpr char kBundle[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
    static constexpr char kImmediately[8] = {0, 0, 0, 0, 0, 0, 0, 1};
    Put(kBundle, sizeof kBundle);
    Put(kImmediately, sizeof kImmediately);
}

void OscWriter::BeginMessage(const char* address) {
    address_ = address;
    tags_[0] = ',';
    tagCount_ = 1;
    argumentSize_ = 0;
}

void OscWriter::String(const char* text) {
    const std::size_t length = std::strlen(text);
    const std::size_t padded = Padded(length);
    if (tagCount_ >= tags_.size() || padded > arguments_.size() - argumentSize_) {
        ok_ = false;
        return;
    }
    tags_[tagCount_++] = 's';
    std::memcpy(arguments_.data() + argumentSize_, text, length);
    std::memset(arguments_.data() + argumentSize_ + length, 0, padded - length);
    argumentSize_ += padded;
}

void OscWriter::PutWord(uint32_t word, char tag) {
    if (tagCount_ >= tags_.size() || 4 > arguments_.size() - argumentSize_) {
        ok_ = false;
        return;
    }
    tags_[tagCount_++] = tag;
    BigEndian(word, arguments_.data() + argumentSize_);
    argumentSize_ += 4;
}

void OscWriter::Int32(int32_t value) {
    PutWord(static_cast<uint32_t>(value), 'i');
}

void OscWriter::Float(float value) {
    uint32_t word = 0;
    static_assert(sizeof word == sizeof value);
    std::memcpy(&word, &value, sizeof word);
    PutWord(word, 'f');
}

void OscWriter::EndMessage() {
    if (address_ == nullptr) {
        ok_ = false;
        return;
    }
    const std::size_t addressLength = std::strlen(address_);
    const std::size_t length = Padded(addressLength) + Padded(tagCount_) + argumentSize_;
    char size[4];
    BigEndian(static_cast<uint32_t>(length), size);
    if (Put(size, sizeof size) && PutPadded(address_, addressLength) &&
        PutPadded(tags_.data(), tagCount_)) {
        Put(arguments_.data(), argumentSize_);
    }
    address_ = nullptr;
}

}  // namespace TUIO
