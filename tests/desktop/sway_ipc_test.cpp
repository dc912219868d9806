// The sway IPC client: the RUN_COMMAND message it writes, and the replies it takes or refuses,
// against a socket that answers as sway would (the real sway is driven in make test-wayland).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "desktop/sway_ipc.h"

namespace {

std::string Frame(std::string_view magic, uint32_t type, std::string_view payload) {
    std::string frame(magic);
    const auto length = static_cast<uint32_t>(payload.size());
    frame.append(reinterpret_cast<const char*>(&length), sizeof(length));
    frame.append(reinterpret_cast<const char*>(&type), sizeof(type));
    frame.append(payload);
    return frame;
}

// A sway socket that serves one connection per answer, in turn: keeps what came in (up to the
// client's whole message) and writes the answer back, at once or, trickled, a byte every
// 100 ms, before it closes the connection.
struct ScriptedServer {
    struct Answer {
        std::string bytes;
        bool trickle = false;
    };
    std::string path;
    int listener = -1;
    std::vector<std::string> received;
    std::thread thread;

    explicit ScriptedServer(std::vector<Answer> answers) {
        char folder[] = "/tmp/kv-sway-XXXXXX";
        path = std::string(::mkdtemp(folder)) + "/ipc.sock";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(listener, 4), 0);
        thread = std::thread([this, answers = std::move(answers)] {
            for (const Answer& answer : answers) {
                Serve(answer);
            }
        });
    }
    explicit ScriptedServer(std::string answer)
        : ScriptedServer(std::vector<Answer>{Answer{std::move(answer)}}) {}
    void Serve(const Answer& answer) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) {
            return;  // shut down: the client made no more connections
        }
        std::string& got = received.emplace_back();
        char buffer[512];
        // The header tells how much follows.
        const auto whole = [&got] {
            uint32_t length = 0;
            if (got.size() >= 14) {
                std::memcpy(&length, got.data() + 6, sizeof(length));
            }
            return got.size() >= 14 && got.size() >= 14 + length;
        };
        while (!whole()) {
            const ssize_t n = ::read(fd, buffer, sizeof(buffer));
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
        const size_t step = answer.trickle ? 1 : answer.bytes.size();
        for (size_t at = 0; at < answer.bytes.size(); at += step) {
            if (::send(fd, answer.bytes.data() + at, step, MSG_NOSIGNAL) <= 0) {
                break;  // the client gave up
            }
            if (answer.trickle) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        ::close(fd);
    }
    // Waits until every connection the client made is served.
    void Finish() {
        ::shutdown(listener, SHUT_RDWR);
        if (thread.joinable()) {
            thread.join();
        }
    }
    ~ScriptedServer() {
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
        ScriptedServer sway(Frame("i3-ipc", 0, R"([{"success":true}])"));
        const kv::SwayCommandResult result = kv::RunSwayCommand(sway.path, command);
        EXPECT_TRUE(result.ok) << result.error;
        sway.Finish();
        ASSERT_EQ(sway.received.size(), 1u);
        EXPECT_EQ(sway.received[0], Frame("i3-ipc", 0, command));
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
        ScriptedServer sway(r.answer);
        const kv::SwayCommandResult result = kv::RunSwayCommand(sway.path, command, 2000);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, r.error);
    }
    const kv::SwayCommandResult gone = kv::RunSwayCommand("/nonexistent/sway.sock", command);
    EXPECT_FALSE(gone.ok);
    EXPECT_NE(gone.error.find("cannot reach sway at /nonexistent/sway.sock"), std::string::npos);
}

// Both devices are tied or neither: a command sway refuses, or an answer that trickles in for
// longer than the limit of one command, undoes the one sway took.
TEST(SwayIpc, AMappingSwayTakesOnlyHalfOfIsUndoneAndEachCommandIsBounded) {
    const std::string touch = "input 56797:1:Kelvarin_Vyren_touchscreen map_to_output ";
    const std::string pointer = "input 56797:2:Kelvarin_Vyren_pointer map_to_output ";
    const ScriptedServer::Answer take{Frame("i3-ipc", 0, R"([{"success":true}])")};
    const ScriptedServer::Answer refuse{
        Frame("i3-ipc", 0, R"([{"success": false, "error": "No such output"}])")};
    const ScriptedServer::Answer trickle{take.bytes, true};
    const struct {
        std::vector<ScriptedServer::Answer> script;
        bool ok;
        size_t commands;  // sent to sway: the two, and two more for the undo
        const char* error;
    } cases[] = {
        {{take, take}, true, 2, ""},
        {{take, refuse, take, take}, false, 4, "No such output"},
        {{trickle, take, take}, false, 3, "sway did not answer within 1000 ms"},
    };
    for (const auto& c : cases) {
        ScriptedServer sway(c.script);
        const kv::SwayMapResult result = kv::MapDevicesInSway(sway.path, "DP-1");
        sway.Finish();
        EXPECT_EQ(result.ok, c.ok) << result.error;
        EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
        EXPECT_EQ(result.undone, !c.ok);
        ASSERT_EQ(sway.received.size(), c.commands);
        EXPECT_EQ(sway.received[0], Frame("i3-ipc", 0, touch + "DP-1"));
        EXPECT_EQ(sway.received.back(),
                  Frame("i3-ipc", 0, (c.ok ? pointer + "DP-1" : pointer + "*")));
    }
}

}  // namespace
