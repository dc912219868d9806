// The display queries: X11 screen size and rotation, and the fallback without a server.
#include "driver/backends/x11/x11_display.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "driver/backends/x11/xtest_pointer.h"
#include "tests/support/xvfb_server.h"

namespace kv::test {
namespace {

// A server that accepts X connections on 127.0.0.1:6000+N, completes the connection setup
// (one 640x480 TrueColor screen), says no to every extension and hangs up at the first other
// request (the root's geometry, asked while the display is opened): a server that goes away
// while a client is still opening its connection.
class HangUpAfterSetupServer {
public:
    HangUpAfterSetupServer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
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
    ~HangUpAfterSetupServer() { close(listener_); }
    HangUpAfterSetupServer(const HangUpAfterSetupServer&) = delete;
    HangUpAfterSetupServer& operator=(const HangUpAfterSetupServer&) = delete;

    bool Listening() const { return number_ >= 0; }
    std::string Name() const { return "127.0.0.1:" + std::to_string(number_); }

    // Serves the next connection: the client's setup, then its extension queries.
    void ServeOne() {
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
            if (ReadAll(client, rest.data(), rest.size())) {
                const std::vector<uint8_t> reply = SetupReply();
                if (Write(client, reply)) {
                    ServeRequests(client);
                }
            }
        }
        close(client);
    }

private:
    static constexpr uint8_t kQueryExtension = 98;

    static void ServeRequests(int client) {
        for (uint16_t sequence = 1; sequence != 0; ++sequence) {
            uint8_t header[4] = {};
            if (!ReadAll(client, header, sizeof header)) {
                return;
            }
            const size_t words = static_cast<size_t>(header[2] | header[3] << 8);
            std::vector<uint8_t> body(words > 1 ? (words - 1) * 4 : 0);
            if (!ReadAll(client, body.data(), body.size()) || header[0] != kQueryExtension) {
                return;
            }
            // Reply, sequence, no extra length, "not present", then padding to 32 bytes.
            std::vector<uint8_t> reply(32, 0);
            reply[0] = 1;
            reply[2] = static_cast<uint8_t>(sequence & 0xFF);
            reply[3] = static_cast<uint8_t>(sequence >> 8);
            if (!Write(client, reply)) {
                return;
            }
        }
    }

    static bool Write(int fd, const std::vector<uint8_t>& bytes) {
        return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
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
};

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// The driver must live through an X server that goes away while a connection is opened, leak
// nothing, and open the next one normally.
TEST(X11ConnectionTest, AServerGoneWhileTheConnectionOpensGivesNoDisplayAndTheProcessGoesOn) {
    HangUpAfterSetupServer server;
    ASSERT_TRUE(server.Listening());
    const size_t before = OpenDescriptors();
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::thread serve([&] { server.ServeOne(); });
        EXPECT_EQ(X11Display::Open(server.Name()), nullptr) << "attempt " << attempt;
        serve.join();
    }
    std::thread serve([&] { server.ServeOne(); });
    std::string error;
    EXPECT_EQ(XTestPointer::Create(server.Name(), error), nullptr);
    EXPECT_NE(error.find(server.Name()), std::string::npos) << error;
    serve.join();
    EXPECT_EQ(OpenDescriptors(), before);
}

TEST(DisplayInfoTest, WithoutADisplayTheUinputRangeStandsIn) {
    for (const char* name : {static_cast<const char*>(nullptr), ""}) {
        const std::unique_ptr<DisplayInfo> display = MakeDisplayInfo(name);
        EXPECT_EQ(display->Width(), 65536);
        EXPECT_EQ(display->Height(), 65536);
        EXPECT_EQ(display->Orientation(), 0);
    }
}

TEST(DisplayInfoTest, AnUnreachableDisplayFallsBackToo) {
    EXPECT_EQ(X11Display::Open(":6999"), nullptr);
    const std::unique_ptr<DisplayInfo> display = MakeDisplayInfo(":6999");
    EXPECT_EQ(display->Width(), 65536);
    EXPECT_EQ(display->Orientation(), 0);
}

TEST(DisplayInfoTest, RandrRotationsBecomeQuarterTurns) {
    EXPECT_EQ(X11Display::QuarterTurns(1), 0);  // RR_Rotate_0
    EXPECT_EQ(X11Display::QuarterTurns(2), 1);  // RR_Rotate_90
    EXPECT_EQ(X11Display::QuarterTurns(4), 2);  // RR_Rotate_180
    EXPECT_EQ(X11Display::QuarterTurns(8), 3);  // RR_Rotate_270
    // Reflections do not turn the picture.
    EXPECT_EQ(X11Display::QuarterTurns(2 | 16), 1);
    EXPECT_EQ(X11Display::QuarterTurns(1 | 32), 0);
}

TEST(XvfbDisplayTest, DefaultScreenSizeAndRotationReadBack) {
    XvfbServer server(1024, 768);
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::unique_ptr<X11Display> display = X11Display::Open(server.Name());
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->Width(), 1024);
    EXPECT_EQ(display->Height(), 768);
    EXPECT_EQ(display->Orientation(), 0);

    const std::unique_ptr<DisplayInfo> chosen = MakeDisplayInfo(server.Name().c_str());
    EXPECT_EQ(chosen->Width(), 1024);
    EXPECT_EQ(chosen->Height(), 768);
}

TEST(XvfbDisplayTest, SizeFollowsTheServerNotAFixedGuess) {
    XvfbServer server(800, 600);
    ASSERT_TRUE(server.Running()) << server.Error();
    const std::unique_ptr<X11Display> display = X11Display::Open(server.Name());
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->Width(), 800);
    EXPECT_EQ(display->Height(), 600);
}

}  // namespace
}  // namespace kv::test
