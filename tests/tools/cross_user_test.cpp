// A second local user against a driver run by another: no answer, no change, no stop, and a
// flood of fresh sources that does not slow the owner down. Needs root, to run the programs as
// two users (setpriv); skipped otherwise.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/driver_program.h"
#include "tests/support/process_support.h"

namespace {

using kv::test::Process;
using kv::test::ReadFile;
using kv::test::TempDir;

const std::string kTool = KVCTL_PATH;
constexpr uid_t kOwner = 4242;
constexpr uid_t kOther = 65534;

std::string As(uid_t uid) {
    const std::string id = std::to_string(uid);
    return "/usr/bin/setpriv --reuid=" + id + " --regid=" + id + " --clear-groups ";
}

class CrossUser : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "running programs as two users needs root";
        }
        for (const TempDir* folder : {&runtime, &install}) {
            ASSERT_EQ(::chown(folder->Path().c_str(), kOwner, kOwner), 0);
        }
        const std::string program = kv::test::InstallDriver(install);
        driver = std::make_unique<Process>(
            "/usr/bin/setpriv",
            std::vector<std::string>{"--reuid=4242", "--regid=4242", "--clear-groups", program,
                                     "--link=scripted", "--pointer=none", "--verbose", "--port",
                                     "0", "--peer-port", std::to_string(helloPeer.Port())},
            std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime.Path()}},
            log.File("driver-out"), log.File("driver-err"));
        port = kv::test::AwaitHello(helloPeer);
        ASSERT_NE(port, 0) << ReadFile(log.File("driver-err"));
    }

    // kvctl as that user; its exit status, with its standard error kept in err.
    int Kvctl(uid_t uid, const std::string& arguments, std::string* err = nullptr) {
        const std::string errPath = log.File("kvctl-err");
        const auto run = kv::test::RunShell(As(uid) + "'" + kTool + "' " + arguments + " --port " +
                                            std::to_string(port) + " 2>'" + errPath + "'");
        if (err != nullptr) {
            *err = ReadFile(errPath);
        }
        return run.status;
    }

    TempDir runtime;
    TempDir install;
    TempDir log;
    kv::test::UdpPeer helloPeer;
    std::unique_ptr<Process> driver;
    uint16_t port = 0;
};

TEST_F(CrossUser, AnotherUsersProgramsGetNoAnswerAndChangeNothing) {
    std::string err;
    ASSERT_EQ(Kvctl(kOwner, "save", &err), 0) << err;
    const std::string settings = install.File("DRIVER.INI");
    ASSERT_TRUE(kv::test::WaitFor([&] { return !ReadFile(settings).empty(); }))
        << ReadFile(log.File("driver-err"));
    const std::string before = ReadFile(settings);

    // kvctl sees whose the port is and does not talk to it; forced to, it gets no answer.
    EXPECT_EQ(Kvctl(kOther, "get Sense/State", &err), 1);
    EXPECT_NE(err.find("is held by uid 4242"), std::string::npos) << err;
    const std::string forced = " --trust-loopback --timeout 1";
    EXPECT_EQ(Kvctl(kOther, "set Sense/State CoarseRange=40 --save" + forced, &err), 1);
    EXPECT_NE(err.find("driver not answering"), std::string::npos) << err;
    EXPECT_EQ(Kvctl(kOther, "stop" + forced), 1);
    EXPECT_EQ(ReadFile(settings), before);
    EXPECT_FALSE(driver->Wait(0).has_value()) << "the other user stopped the driver";

    // Fresh source ports five times a second from the other user cost the owner nothing: each
    // is refused before it could take a peer slot or a publish-all.
    Process flood("/bin/sh",
                  {"-c", As(kOther) + "/bin/sh -c 'for i in $(seq 25); do \"" + kTool +
                             "\" get Sense/State --trust-loopback --timeout 0.2 --port " +
                             std::to_string(port) + "; done'"},
                  {}, log.File("flood-out"), log.File("flood-err"));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int i = 0; i < 3; ++i) {
        const auto begin = std::chrono::steady_clock::now();
        EXPECT_EQ(Kvctl(kOwner, "get Sense/State --timeout 2", &err), 0) << err;
        std::printf("owner's kvctl get during the flood: %lld ms\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - begin)
                                               .count()));
    }
    EXPECT_TRUE(flood.Wait(kv::test::kWaitMs).has_value());
    const std::string flooded = ReadFile(log.File("flood-err"));
    EXPECT_NE(flooded.find("driver not answering"), std::string::npos) << flooded;

    ASSERT_EQ(Kvctl(kOwner, "stop", &err), 0) << err;
    EXPECT_EQ(driver->Wait(kv::test::kWaitMs), 0);
    EXPECT_EQ(ReadFile(settings), before);
    const std::string said = ReadFile(log.File("driver-err"));
    EXPECT_NE(said.find("uid 65534 is not this driver's user"), std::string::npos) << said;
    EXPECT_NE(said.find("datagrams of other users' programs"), std::string::npos) << said;
}

}  // namespace
