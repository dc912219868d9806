// Datagrams to JSON lines: cuts a datagram into frames as the receiver does and shows what the
// receiving record holds after each one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/frame_cutter.h"

namespace kv::kvctl {

class DatagramDecoder {
public:
    DatagramDecoder();

    // Writes one JSON object per frame (one line each) for one datagram: record frames as the
    // receiver's record holds them after Registry::Deliver on a fresh registry, hellos, and
    // {"error": ...} for a frame the receiver drops, for bytes dropped to make room and for
    // bytes left over at the end. Each datagram starts with an empty reassembly buffer.
    // Returns true when every frame decoded and nothing was left over.
    bool Decode(const uint8_t* bytes, size_t length, std::ostream& out);

private:
    // Large (30 kB): one per decoder, cleared for every datagram.
    std::unique_ptr<FrameCutter> cutter_;
};

// Parses hex digits (either case); whitespace between digits is ignored. On failure returns
// false and says why.
bool ParseHex(std::string_view text, std::vector<uint8_t>& bytes, std::string& error);

}  // namespace kv::kvctl
