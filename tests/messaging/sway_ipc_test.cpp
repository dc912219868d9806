// The sway IPC client: the RUN_COMMAND message it writes, and the replies it takes or refuses,
// against a socket that answers as sway would (the real sway is driven in make test-wayland).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "messaging/sway_ipc.h"

namespace {

std::string Frame(std::string_view magic, uint32_t type, std::string_view payload) {
    std::string frame(magic);
    const auto length = static_cast<uint32_t>(payload.size());
    frame.append(reinterpret_cast<const char*>(&length), sizeof(length));
    frame.append(reinterpret_cast<const char*>(&type), sizeof(type));
    frame.append(payload);
    return frame;
}

// One connection on a Unix socket: what came in (up to the client's whole message), and the
// answer written back before the socket closes.
struct OneShotServer {
    std::string path;
    int listener = -1;
    std::string received;
    std::thread thread;

    explicit OneShotServer(std::string answer) {
        char folder[] = "/tmp/kv-sway-XXXXXX";
        path = std::string(::mkdtemp(folder)) + "/ipc.sock";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(listener, 1), 0);
        thread = std::thread([this, answer = std::move(answer)] {
            const int fd = ::accept(listener, nullptr, nullptr);
            char buffer[512];
            // The header tells how much follows.
            const auto whole = [this] {
                uint32_t length = 0;
                if (received.size() >= 14) {
                    std::memcpy(&length, received.data() + 6, sizeof(length));
                }
                return received.size() >= 14 && received.size() >= 14 + length;
            };
            while (!whole()) {
                const ssize_t got = ::read(fd, buffer, sizeof(buffer));
                if (got <= 0) {
                    break;
                }
                received.append(buffer, static_cast<size_t>(got));
            }
            EXPECT_EQ(::write(fd, answer.data(), answer.size()),
                      static_cast<ssize_t>(answer.size()));
            ::close(fd);
        });
    }
    // Waits until the answer is written and the connection closed.
    void Finish() {
        if (thread.joinable()) {
            thread.join();
        }
    }
    ~OneShotServer() {
        Finish();
        ::close(listener);
        ::unlink(path.c_str());
        ::rmdir(path.substr(0, path.rfind('/')).c_str());
    }
};

TEST(SwayIpc, RepliesAreOkOnlyWhenEveryCommandSucceeded) {
    struct Case {
        std::string payload;
        bool ok;
        std::string error;
    } const cases[] = {
        {R"([ { "success": true } ])", true, ""},
        {R"([{"success":true},{"success":true}])", true, ""},
        {R"([{"success": false, "parse_error": false, "error": "Unknown \"output\""}])", false,
         R"(Unknown "output")"},
        {R"([{"success":true},{"success":false}])", false, "sway did not take the command"},
        {"[]", false, "sway's reply holds no result"},
        {"", false, "sway's reply holds no result"},
        {R"([{"success": tru)", false, "sway did not take the command"},
        {R"([{"error": "x", "success"})", false, "x"},
    };
    for (const Case& c : cases) {
        const kv::SwayCommandResult result = kv::ParseSwayCommandReply(c.payload);
        EXPECT_EQ(result.ok, c.ok) << c.payload;
        EXPECT_EQ(result.error, c.error) << c.payload;
    }
}

TEST(SwayIpc, SendsOneRunCommandAndReadsTheAnswer) {
    const std::string command = "input 56797:1:Kelvarin_Vyren_touchscreen map_to_output DP-1";
    {
        OneShotServer sway(Frame("i3-ipc", 0, R"([{"success":true}])"));
        const kv::SwayCommandResult result = kv::RunSwayCommand(sway.path, command);
        EXPECT_TRUE(result.ok) << result.error;
        sway.Finish();
        EXPECT_EQ(sway.received, Frame("i3-ipc", 0, command));
    }
    // Answers that are not sway's, or none.
    const struct {
        std::string answer;
        std::string error;
    } refused[] = {
        {Frame("i3-ipX", 0, "[]"), "the answer on the sway socket is not sway's"},
        {Frame("i3-ipc", 4, "[]"), "the answer on the sway socket is not sway's"},
        {Frame("i3-ipc", 0, "[]").substr(0, 10), "sway did not answer"},
        {Frame("i3-ipc", 0, R"([{"success":true}])").substr(0, 20), "sway's answer ended early"},
    };
    for (const auto& r : refused) {
        OneShotServer sway(r.answer);
        const kv::SwayCommandResult result = kv::RunSwayCommand(sway.path, command, 2000);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, r.error);
    }
    const kv::SwayCommandResult gone = kv::RunSwayCommand("/nonexistent/sway.sock", command);
    EXPECT_FALSE(gone.ok);
    EXPECT_NE(gone.error.find("cannot reach sway at /nonexistent/sway.sock"), std::string::npos);
}

}  // namespace
