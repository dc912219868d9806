// kvctl's datagram decoding on arbitrary bytes: the frame cutter, Registry::Deliver on a
// scratch registry and the JSON writer for whatever the fields hold. The input is also read
// as hex text, as `kvctl decode -` reads a line.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "tools/kvctl/frame_decode.h"

namespace {

// Drops whatever would be printed.
class NullBuffer final : public std::streambuf {
protected:
    int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static NullBuffer buffer;
    static std::ostream discard(&buffer);
    static kv::kvctl::DatagramDecoder decoder;

    decoder.Decode(data, size, discard);

    std::vector<uint8_t> bytes;
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (kv::kvctl::ParseHex(text, bytes, error)) {
        decoder.Decode(bytes.data(), bytes.size(), discard);
    }
    return 0;
}
