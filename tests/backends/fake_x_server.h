// An X server that answers just enough of the protocol for the driver's two X clients (the
// display information and the XTest pointer) and hangs up at a chosen step: before the
// connection set-up's reply, at an extension query, at the root's geometry, at any RandR or
// XTest request, or at a round trip after injection. Its RandR answers describe a layout of
// monitors the test sets (and may change while a client is connected). Listens on
// 127.0.0.1:6000+N; speaks the little-endian byte order of the clients on this machine.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace kv::test {

class FakeXServer {
public:
    enum class HangUp { Never, AtSetup, AtQueryExtension, AtGeometry, AtRandr, AtXTest, AtSync };

    // A monitor: its picture's rectangle on the screen (after rotation) and its RandR
    // rotation bits (1 none, 2 left, 4 inverted, 8 right).
    struct Monitor {
        int16_t x = 0;
        int16_t y = 0;
        uint16_t width = 0;
        uint16_t height = 0;
        uint16_t rotation = 1;
    };
    struct Layout {
        uint16_t width = 640;
        uint16_t height = 480;
        std::vector<Monitor> monitors;  // output k drives CRTC k
        int primary = -1;               // index of the primary output; none below 0
    };

    FakeXServer() {
        // Clients write to a server that hung up: SIGPIPE ignored, as in the programs' main.
        signal(SIGPIPE, SIG_IGN);
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        const int reuse = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        for (int display = 40; display < 100 && number_ < 0; ++display) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(6000 + display));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                listen(listener_, 4) == 0) {
                number_ = display;
            }
        }
    }
    ~FakeXServer() { close(listener_); }
    FakeXServer(const FakeXServer&) = delete;
    FakeXServer& operator=(const FakeXServer&) = delete;

    bool Listening() const { return number_ >= 0; }
    std::string Name() const { return "127.0.0.1:" + std::to_string(number_); }

    void SetLayout(Layout layout) {
        const std::lock_guard<std::mutex> lock(mutex_);
        layout_ = std::move(layout);
    }

    // Serves the next connection until the client leaves or the step comes; extensions are
    // present unless hasExtensions is false.
    void ServeOne(HangUp step, bool hasExtensions = true) {
        const int client = accept(listener_, nullptr, nullptr);
        if (client < 0) {
            return;
        }
        uint8_t setup[12] = {};
        if (ReadAll(client, setup, sizeof setup)) {
            // The authorisation name and data that follow, each padded to 4 bytes.
            const size_t name = static_cast<size_t>(setup[6] | setup[7] << 8);
            const size_t data = static_cast<size_t>(setup[8] | setup[9] << 8);
            std::vector<uint8_t> rest((name + 3) / 4 * 4 + (data + 3) / 4 * 4);
            if (ReadAll(client, rest.data(), rest.size()) && step != HangUp::AtSetup &&
                Write(client, SetupReply())) {
                ServeRequests(client, step, hasExtensions);
            }
        }
        close(client);
    }

private:
    static constexpr uint8_t kGetGeometry = 14;
    static constexpr uint8_t kGetInputFocus = 43;
    static constexpr uint8_t kQueryExtension = 98;
    static constexpr uint8_t kXTestOpcode = 130;
    static constexpr uint8_t kRandrOpcode = 140;
    static constexpr uint8_t kRandrQueryVersion = 0;
    static constexpr uint8_t kRandrGetScreenInfo = 5;
    static constexpr uint8_t kRandrGetOutputInfo = 9;
    static constexpr uint8_t kRandrGetCrtcInfo = 20;
    static constexpr uint8_t kRandrGetScreenResourcesCurrent = 25;
    static constexpr uint8_t kRandrGetOutputPrimary = 31;
    static constexpr uint32_t kFirstCrtc = 0x300;
    static constexpr uint32_t kFirstOutput = 0x400;

    void ServeRequests(int client, HangUp step, bool hasExtensions) {
        for (uint16_t sequence = 1; sequence != 0; ++sequence) {
            uint8_t header[4] = {};
            if (!ReadAll(client, header, sizeof header)) {
                return;
            }
            const size_t words = static_cast<size_t>(header[2] | header[3] << 8);
            std::vector<uint8_t> body(words > 1 ? (words - 1) * 4 : 0);
            if (!ReadAll(client, body.data(), body.size())) {
                return;
            }
            const uint8_t opcode = header[0];
            if ((step == HangUp::AtQueryExtension && opcode == kQueryExtension) ||
                (step == HangUp::AtGeometry && opcode == kGetGeometry) ||
                (step == HangUp::AtRandr && opcode == kRandrOpcode) ||
                (step == HangUp::AtXTest && opcode == kXTestOpcode) ||
                (step == HangUp::AtSync && opcode == kGetInputFocus)) {
                return;
            }
            std::vector<uint8_t> reply(32, 0);
            reply[0] = 1;
            reply[2] = static_cast<uint8_t>(sequence & 0xFF);
            reply[3] = static_cast<uint8_t>(sequence >> 8);
            if (opcode == kQueryExtension) {
                const size_t length = static_cast<size_t>(body[0] | body[1] << 8);
                const std::string name(reinterpret_cast<const char*>(body.data()) + 4,
                                       std::min(length, body.size() - 4));
                const bool xtest = name == "XTEST";
                reply[8] = hasExtensions && (xtest || name == "RANDR") ? 1 : 0;
                reply[9] = xtest ? kXTestOpcode : kRandrOpcode;
            } else if (opcode == kGetGeometry) {
                const std::lock_guard<std::mutex> lock(mutex_);
                reply[1] = 24;
                Put16(reply, 16, layout_.width);
                Put16(reply, 18, layout_.height);
            } else if (opcode == kRandrOpcode && header[1] != kRandrGetScreenInfo) {
                RandrReply(header[1], body, reply);
            } else if (opcode == kRandrOpcode || opcode == kGetInputFocus) {
                // Screen info at rotation 0, or the focus: all zero past the header but for
                // the rotation's bit.
                reply[24] = 1;
            } else {
                continue;  // no reply: XTest's fake input
            }
            if (!Write(client, reply)) {
                return;
            }
        }
    }

    // The RandR 1.5 answers from the layout: resources, primary, outputs and CRTCs.
    void RandrReply(uint8_t minor, const std::vector<uint8_t>& body, std::vector<uint8_t>& reply) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const size_t count = layout_.monitors.size();
        // The object a request names (its first word), as an index into the layout.
        const size_t asked = body.size() >= 4 ? static_cast<size_t>(body[0] | body[1] << 8) : 0;
        if (minor == kRandrQueryVersion) {
            Put16(reply, 8, 1);
            Put16(reply, 12, 5);
        } else if (minor == kRandrGetScreenResourcesCurrent) {
            Put16(reply, 4, static_cast<uint32_t>(2 * count));  // CRTC and output ids
            Put16(reply, 16, static_cast<uint32_t>(count));
            Put16(reply, 18, static_cast<uint32_t>(count));
            for (const uint32_t first : {kFirstCrtc, kFirstOutput}) {
                for (size_t k = 0; k < count; ++k) {
                    reply.insert(reply.end(), 4, 0);
                    Put16(reply, reply.size() - 4, first + static_cast<uint32_t>(k));
                }
            }
        } else if (minor == kRandrGetOutputPrimary) {
            if (layout_.primary >= 0) {
                Put16(reply, 8, kFirstOutput + static_cast<uint32_t>(layout_.primary));
            }
        } else if (minor == kRandrGetOutputInfo && asked - kFirstOutput < count) {
            reply.resize(36, 0);  // no CRTC lists, modes, clones or name
            Put16(reply, 4, 1);
            Put16(reply, 12, static_cast<uint32_t>(kFirstCrtc + asked - kFirstOutput));
        } else if (minor == kRandrGetCrtcInfo && asked - kFirstCrtc < count) {
            const Monitor& m = layout_.monitors[asked - kFirstCrtc];
            Put16(reply, 12, static_cast<uint16_t>(m.x));
            Put16(reply, 14, static_cast<uint16_t>(m.y));
            Put16(reply, 16, m.width);
            Put16(reply, 18, m.height);
            Put16(reply, 20, 1);  // a mode: the CRTC shows a picture
            Put16(reply, 24, m.rotation);
        }
    }

    static void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
        b[at] = static_cast<uint8_t>(v & 0xFF);
        b[at + 1] = static_cast<uint8_t>(v >> 8 & 0xFF);
    }

    static bool Write(int fd, const std::vector<uint8_t>& bytes) {
        return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    static bool ReadAll(int fd, uint8_t* bytes, size_t size) {
        while (size > 0) {
            const ssize_t n = read(fd, bytes, size);
            if (n <= 0) {
                return false;
            }
            bytes += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    // The connection setup's success reply, little-endian, as the core protocol lays it out.
    static std::vector<uint8_t> SetupReply() {
        std::vector<uint8_t> b;
        auto u8 = [&](uint32_t v) { b.push_back(static_cast<uint8_t>(v)); };
        auto u16 = [&](uint32_t v) { u8(v & 0xFF), u8(v >> 8 & 0xFF); };
        auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
        const std::string vendor = "Hang";                       // 4 bytes: no padding
        u8(1), u8(0), u16(11), u16(0), u16(0);                   // success, 11.0, length set below
        u32(1), u32(0x00200000), u32(0x001FFFFF), u32(0);        // release, id base and mask
        u16(static_cast<uint32_t>(vendor.size())), u16(0xFFFF);  // vendor, longest request
        u8(1), u8(1), u8(0), u8(0), u8(32), u8(32), u8(8), u8(255), u32(0);  // 1 screen
        b.insert(b.end(), vendor.begin(), vendor.end());
        u8(24), u8(32), u8(32), u8(0), u32(0);                 // format: depth 24 in 32 bits
        u32(0x100), u32(0x20), u32(0xFFFFFF), u32(0), u32(0);  // root, colormap, pixels
        u16(640), u16(480), u16(170), u16(130), u16(1), u16(1);
        u32(0x21), u8(0), u8(0), u8(24), u8(1);  // root visual, depth 24, 1 depth
        u8(24), u8(0), u16(1), u32(0);           // depth 24 with 1 visual
        u32(0x21), u8(4), u8(8), u16(256);       // TrueColor
        u32(0xFF0000), u32(0x00FF00), u32(0x0000FF), u32(0);
        const uint32_t words = static_cast<uint32_t>((b.size() - 8) / 4);
        b[6] = static_cast<uint8_t>(words & 0xFF);
        b[7] = static_cast<uint8_t>(words >> 8);
        return b;
    }

    int listener_ = -1;
    int number_ = -1;
    std::mutex mutex_;
    Layout layout_;
};

}  // namespace kv::test
