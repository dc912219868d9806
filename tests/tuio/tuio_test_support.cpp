// Decoding of TUIO bundles: the bundle's frame read here, each message by liblo's parser.
#include "tuio_test_support.h"

#include <lo/lo.h>

#include <cstring>

namespace kv::test {

namespace {

uint32_t BigEndianWord(const char* bytes) {
    const auto* b = reinterpret_cast<const uint8_t*>(bytes);
    return static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
           static_cast<uint32_t>(b[2]) << 8 | b[3];
}

// One bundle element: liblo parses it; the first argument names the TUIO message.
bool ReadMessage(const char* bytes, size_t size, OscMessage& out) {
    std::vector<char> copy(bytes, bytes + size);  // liblo may swap the bytes in place
    int result = 0;
    lo_message message = lo_message_deserialise(copy.data(), copy.size(), &result);
    if (message == nullptr) {
        return false;
    }
    out.profile.assign(bytes, strnlen(bytes, size));
    const char* types = lo_message_get_types(message);
    lo_arg** argv = lo_message_get_argv(message);
    const int argc = lo_message_get_argc(message);
    bool ok = argc > 0 && types[0] == LO_STRING;
    // The arguments lie in the message's data at four-byte boundaries, not where a lo_arg
    // union may be read: copied out byte by byte.
    for (int i = 0; ok && i < argc; ++i) {
        const auto* argument = reinterpret_cast<const char*>(argv[i]);
        if (i == 0) {
            out.command = argument;
        } else if (types[i] == LO_INT32) {
            int32_t value = 0;
            std::memcpy(&value, argument, sizeof value);
            out.ints.push_back(value);
        } else if (types[i] == LO_FLOAT) {
            float value = 0.0f;
            std::memcpy(&value, argument, sizeof value);
            out.floats.push_back(value);
        } else {
            ok = false;
        }
    }
    lo_message_free(message);
    return ok;
}

}  // namespace

const OscMessage* OscBundle::Find(const std::string& command) const {
    for (const OscMessage& message : messages) {
        if (message.command == command) {
            return &message;
        }
    }
    return nullptr;
}

std::vector<const OscMessage*> OscBundle::All(const std::string& command) const {
    std::vector<const OscMessage*> found;
    for (const OscMessage& message : messages) {
        if (message.command == command) {
            found.push_back(&message);
        }
    }
    return found;
}

bool OscBundle::IsKeepAlive() const {
    return messages.size() == 2 && messages[0].command == "alive" && messages[1].command == "fseq";
}

OscBundle Decode(const Datagram& datagram) {
    OscBundle bundle;
    static constexpr char kBundle[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
    constexpr size_t kHeader = sizeof kBundle + 8;  // "#bundle", the time tag
    if (datagram.size() < kHeader || std::memcmp(datagram.data(), kBundle, sizeof kBundle) != 0) {
        return bundle;
    }
    for (size_t at = kHeader; at < datagram.size();) {
        if (datagram.size() - at < 4) {
            return bundle;
        }
        const uint32_t size = BigEndianWord(datagram.data() + at);
        at += 4;
        if (size > datagram.size() - at || size % 4 != 0 || datagram[at] != '/') {
            return bundle;  // a cut element, or a nested bundle (never sent)
        }
        OscMessage message;
        if (!ReadMessage(datagram.data() + at, size, message)) {
            return bundle;
        }
        bundle.messages.push_back(std::move(message));
        at += size;
    }
    if (!bundle.messages.empty()) {
        bundle.profile = bundle.messages.front().profile;
    }
    bundle.ok = true;
    return bundle;
}

}  // namespace kv::test
