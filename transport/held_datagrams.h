// Datagrams the endpoint takes while a publish-all is paced.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kv {

// Datagrams taken while a publish-all is paced, to be acted on after it in the order they came:
// one fixed block, nothing allocated per datagram, and a bound on what may wait.
class HeldDatagrams {
public:
    static constexpr size_t kBytes = 64 * 1024;

    // False when there is no room.
    bool Push(const uint8_t* bytes, size_t length, uint64_t from) {
        const size_t need = kHeader + length;
        if (tail_ + need > kBytes && head_ > 0) {
            std::memmove(block_.data(), block_.data() + head_, tail_ - head_);
            tail_ -= head_;
            head_ = 0;
        }
        if (tail_ + need > kBytes) {
            return false;
        }
        const Header header{from, length};
        std::memcpy(block_.data() + tail_, &header, kHeader);
        std::memcpy(block_.data() + tail_ + kHeader, bytes, length);
        tail_ += need;
        return true;
    }
    // The oldest, into out (room for any datagram pushed); false when none waits.
    bool Pop(uint8_t* out, size_t& length, uint64_t& from) {
        if (Empty()) {
            return false;
        }
        const Header header = HeaderAt(head_);
        std::memcpy(out, block_.data() + head_ + kHeader, header.length);
        length = header.length;
        from = header.from;
        head_ += kHeader + header.length;
        if (head_ == tail_) {
            head_ = tail_ = 0;
        }
        return true;
    }
    // Drops the latest; false when none waits.
    bool DropNewest() {
        if (Empty()) {
            return false;
        }
        size_t last = head_;
        for (size_t at = head_; at < tail_; at += kHeader + HeaderAt(at).length) {
            last = at;
        }
        tail_ = last;
        if (head_ == tail_) {
            head_ = tail_ = 0;
        }
        return true;
    }
    bool Empty() const { return head_ == tail_; }

private:
    struct Header {
        uint64_t from;
        size_t length;
    };
    static constexpr size_t kHeader = sizeof(Header);

    Header HeaderAt(size_t at) const {
        Header header{};
        std::memcpy(&header, block_.data() + at, kHeader);
        return header;
    }

    std::array<uint8_t, kBytes> block_{};
    size_t head_ = 0;
    size_t tail_ = 0;
};

}  // namespace kv
