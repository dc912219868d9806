// kvctl map-output: only an output's connector name goes into the compositors' settings, so
// that no word of the user's can add a line or a section to a configuration file.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/kvctl/commands.h"

namespace {

int MapOutput(const std::string& name, std::string& out, std::string& err, bool apply = false) {
    std::istringstream in;
    std::ostringstream o, e;
    kv::kvctl::CommandIo io{in, o, e};
    const int status = apply ? kv::kvctl::RunMapOutput({name, "--apply"}, io)
                             : kv::kvctl::RunMapOutput({name}, io);
    out = o.str();
    err = e.str();
    return status;
}

TEST(KvctlMapOutput, TakesConnectorNamesAndRefusesAnythingThatCouldBreakAConfigFile) {
    for (const std::string name : {"HDMI-A-1", "HEADLESS-2", "DP-1.8", "eDP_1"}) {
        std::string out, err;
        EXPECT_EQ(MapOutput(name, out, err), 0) << name;
        EXPECT_NE(out.find("map_to_output " + name + "\n"), std::string::npos) << out;
        EXPECT_NE(out.find("OutputName=" + name + "\n"), std::string::npos) << out;
    }
    for (const std::string& name :
         {std::string(), std::string("HDMI-1\ninput * events disabled"), std::string("a b"),
          std::string("DP-1]"), std::string("\"x\""), std::string(65, 'A')}) {
        std::string out, err;
        EXPECT_EQ(MapOutput(name, out, err), 2) << name;
        EXPECT_TRUE(out.empty()) << out;
        EXPECT_NE(err.find("no output name"), std::string::npos) << err;
    }
}

// A sway that answers one connection after another as scripted: takes the command or refuses
// it at once, or trickles a success a byte every 100 ms. Keeps the commands it was sent.
class ScriptedSway {
public:
    enum class Answer { Take, Refuse, Trickle };

    explicit ScriptedSway(std::vector<Answer> script) {
        char folder[] = "/tmp/kv-map-XXXXXX";
        path_ = std::string(::mkdtemp(folder)) + "/ipc.sock";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
        listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(::listen(listener_, 4), 0);
        thread_ = std::thread([this, script = std::move(script)] {
            for (const Answer answer : script) {
                Serve(answer);
            }
        });
    }
    ~ScriptedSway() {
        Commands();
        ::close(listener_);
        ::unlink(path_.c_str());
        ::rmdir(path_.substr(0, path_.rfind('/')).c_str());
    }
    const std::string& Path() const { return path_; }
    // The commands sent; called once the client is done: connections the script still waits
    // for never come.
    std::vector<std::string> Commands() {
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable()) {
            thread_.join();
        }
        return commands_;
    }

private:
    void Serve(Answer answer) {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) {
            return;
        }
        std::string got;
        char buffer[512];
        uint32_t length = 0;
        while (got.size() < 14 || got.size() < 14 + length) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
            if (got.size() >= 14) {
                std::memcpy(&length, got.data() + 6, sizeof length);
            }
        }
        commands_.push_back(got.size() >= 14 ? got.substr(14) : std::string());
        const std::string payload = answer == Answer::Refuse
                                        ? R"([{"success": false, "error": "No such output"}])"
                                        : R"([{"success": true}])";
        std::string reply = "i3-ipc";
        const auto size = static_cast<uint32_t>(payload.size());
        const uint32_t type = 0;
        reply.append(reinterpret_cast<const char*>(&size), sizeof size);
        reply.append(reinterpret_cast<const char*>(&type), sizeof type);
        reply.append(payload);
        const size_t step = answer == Answer::Trickle ? 1 : reply.size();
        for (size_t at = 0; at < reply.size(); at += step) {
            if (::send(fd, reply.data() + at, step, MSG_NOSIGNAL) <= 0) {
                break;  // the client gave up
            }
            if (answer == Answer::Trickle) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        ::close(fd);
    }

    std::string path_;
    int listener_ = -1;
    std::vector<std::string> commands_;
    std::thread thread_;
};

// --apply ties both devices or neither: a command sway refuses, or an answer that trickles in
// for longer than the limit of one command, undoes the one sway took.
TEST(KvctlMapOutput, ApplyUndoesAHalfTakenMappingAndBoundsEachCommand) {
    using A = ScriptedSway::Answer;
    const std::string touch = "input 56797:1:Kelvarin_Vyren_touchscreen map_to_output ";
    const std::string pointer = "input 56797:2:Kelvarin_Vyren_pointer map_to_output ";
    const struct {
        std::vector<A> script;
        int status;
        size_t commands;  // sent to sway: the two, and two more for the undo
        const char* says;
    } cases[] = {
        {{A::Take, A::Take}, 0, 2, ""},
        {{A::Take, A::Refuse, A::Take, A::Take}, 1, 4, "No such output"},
        {{A::Trickle, A::Take, A::Take}, 1, 3, "sway did not answer within 1000 ms"},
    };
    for (const auto& c : cases) {
        ScriptedSway sway(c.script);
        ::setenv("SWAYSOCK", sway.Path().c_str(), 1);
        std::string out, err;
        EXPECT_EQ(MapOutput("DP-1", out, err, true), c.status) << err;
        ::unsetenv("SWAYSOCK");
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        const std::vector<std::string> sent = sway.Commands();
        ASSERT_GE(sent.size(), 1u);
        EXPECT_EQ(sent.size(), c.commands) << err;
        EXPECT_EQ(sent[0], touch + "DP-1");
        if (c.status == 0) {
            EXPECT_EQ(out, touch + "DP-1\n" + pointer + "DP-1\n");
        } else {
            EXPECT_EQ(sent.back(), pointer + "*");
            EXPECT_NE(err.find("undone"), std::string::npos) << err;
        }
    }
}

}  // namespace
