// The whole Controller as a user runs it: the real program in a folder of its own with its
// Driver copy on the simulated board, on a private desktop (Xvfb, accessibility bus, tray host;
// see a11y/with-desktop, which runs this test). The Controller's traffic to its driver passes
// through a relay in the test, so every record in both directions is seen: the driver is told
// to listen on the relay's far side and to answer the relay, while the Controller talks to the
// relay's near side as if it were the driver.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "protocol/frame_cutter.h"
#include "protocol/registry.h"
#include "protocol/wire.h"
#include "tests/support/process_support.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kv::test::Process;
using kv::test::ReadFile;
using kv::test::TempDir;
using kv::test::WaitFor;

// Generous bounds for a shared, slow machine; nothing is timed by them.
constexpr int kWaitMs = 90000;
const std::string kWindow = "Kelvarin Vyren - Controller";
const std::string kFirstRun = "Initial Setting for first running...";
const std::string kDefaultProfile =
    "[GENERAL]\r\nFIRST=1\r\nLANG=19\r\nINDEX=0\r\n[BOOT]\r\nDRIVER=0\r\nCONTROLLER=0\r\n"
    "STATUS=1\r\nCUSTOM=0\r\n";

int BoundUdpSocket(uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return -1;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// A port nobody uses right now (the socket is closed again for the program to take).
uint16_t FreePort() {
    uint16_t port = 0;
    const int fd = BoundUdpSocket(port);
    close(fd);
    return port;
}

void SendTo(int fd, uint16_t port, const uint8_t* bytes, size_t length) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    sendto(fd, bytes, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

enum class Way { ToDriver, ToController };

// One frame that passed the relay: what it was and when.
struct Passed {
    Way way;
    Clock::time_point at;
    bool hello = false;
    std::string record;  // "Object/Topic" of a record frame ("/" for the end marker)
    int32_t address = 0;
};

// Sits between the Controller and its driver and forwards every datagram, noting each frame.
// Our programs send every frame whole in one datagram, so a datagram is read as one frame.
class Relay {
public:
    Relay() {
        nearFd_ = BoundUdpSocket(nearPort_);
        farFd_ = BoundUdpSocket(farPort_);
        controllerRegistry_ = std::make_unique<kv::Registry>(kv::ProgramRole::Controller);
        thread_ = std::thread([this] { Run(); });
    }
    ~Relay() {
        stop_ = true;
        thread_.join();
        close(nearFd_);
        close(farFd_);
    }

    // The Controller's driver port.
    uint16_t NearPort() const { return nearPort_; }
    // The driver's peer port: the driver answers here.
    uint16_t FarPort() const { return farPort_; }
    void SetPorts(uint16_t controllerPort, uint16_t driverPort) {
        controllerPort_ = controllerPort;
        driverPort_ = driverPort;
    }

    std::vector<Passed> Log() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return log_;
    }
    // Every "frames in the last period" the driver has reported to the Controller.
    std::set<int32_t> SamplingRates() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return rates_;
    }

private:
    void Run() {
        pollfd fds[2] = {{nearFd_, POLLIN, 0}, {farFd_, POLLIN, 0}};
        std::vector<uint8_t> buffer(65536);
        while (!stop_) {
            if (poll(fds, 2, 50) <= 0) {
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                if ((fds[i].revents & POLLIN) == 0) {
                    continue;
                }
                const ssize_t n = recv(fds[i].fd, buffer.data(), buffer.size(), 0);
                if (n <= 0) {
                    continue;
                }
                const Way way = i == 0 ? Way::ToDriver : Way::ToController;
                Note(way, buffer.data(), static_cast<size_t>(n));
                if (way == Way::ToDriver) {
                    SendTo(farFd_, driverPort_, buffer.data(), static_cast<size_t>(n));
                } else {
                    SendTo(nearFd_, controllerPort_, buffer.data(), static_cast<size_t>(n));
                }
            }
        }
    }

    static std::string Field(const uint8_t* bytes, int32_t offset) {
        const char* text = reinterpret_cast<const char*>(bytes + offset);
        return std::string(text, strnlen(text, kv::wire::kTextShort));
    }

    void Note(Way way, const uint8_t* bytes, size_t length) {
        Passed passed;
        passed.way = way;
        passed.at = Clock::now();
        if (length >= static_cast<size_t>(kv::wire::kPrefixSize) &&
            bytes[kv::wire::kOffCommand] == kv::wire::kCommandHello) {
            passed.hello = true;
        } else if (length >= static_cast<size_t>(kv::wire::kFrameHeader) &&
                   bytes[kv::wire::kOffCommand] == kv::wire::kCommandRecord) {
            passed.record =
                Field(bytes, kv::wire::kOffObject) + "/" + Field(bytes, kv::wire::kOffTopic);
            passed.address = kv::wire::GetInt(bytes + kv::wire::kOffAddress);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (way == Way::ToController && passed.record == "Comms/ActStatus") {
            controllerRegistry_->Deliver(bytes, 0, static_cast<int32_t>(length));
            rates_.insert(controllerRegistry_->commsActStatus.FramesLastPeriod);
        }
        log_.push_back(passed);
    }

    int nearFd_ = -1;
    int farFd_ = -1;
    uint16_t nearPort_ = 0;
    uint16_t farPort_ = 0;
    std::atomic<uint16_t> controllerPort_{0};
    std::atomic<uint16_t> driverPort_{0};
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<Passed> log_;
    std::set<int32_t> rates_;
    std::unique_ptr<kv::Registry> controllerRegistry_;
    std::thread thread_;
};

size_t Count(const std::vector<Passed>& log, Way way, const std::string& record,
             Clock::time_point from = Clock::time_point::min()) {
    size_t n = 0;
    for (const auto& p : log) {
        n += p.way == way && p.record == record && p.at >= from;
    }
    return n;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs the accessibility helper; its output, or empty with a failure noted.
std::string A11y(const std::vector<std::string>& arguments, int* status = nullptr) {
    std::string command = "/usr/bin/python3 " + Quote(KV_A11Y_HELPER);
    for (const auto& a : arguments) {
        command += " " + Quote(a);
    }
    const kv::test::ShellResult run = kv::test::RunShell(command);
    if (status != nullptr) {
        *status = run.status;
    } else {
        EXPECT_EQ(run.status, 0) << command;
    }
    return run.output;
}

bool LockIsFree(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return true;
    }
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

class ControllerProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "runs on the desktop that a11y/with-desktop provides";
        }
        const fs::path built = fs::path(KV_CONTROLLER_PATH).parent_path();
        fs::copy_file(KV_CONTROLLER_PATH, install.File("Controller"));
        fs::copy_file(built / "Driver", install.File("Driver"));
        if (fs::exists(built / "Lang")) {
            fs::copy(built / "Lang", install.File("Lang"), fs::copy_options::recursive);
        }
        controllerPort = FreePort();
        driverPort = FreePort();
        relay.SetPorts(controllerPort, driverPort);
    }

    void TearDown() override {
        if (controller) {
            controller->Signal(SIGTERM);
            controller->Wait(10000);
        }
        // The driver outlives the Controller by design; end ours.
        const std::string lock = runtime.File("KELVARIN_DRIVER.lock");
        if (!LockIsFree(lock)) {
            const std::string stop = Quote(KVCTL_PATH) + " stop --port " +
                                     std::to_string(driverPort) + " >/dev/null 2>&1";
            EXPECT_EQ(std::system(stop.c_str()), 0);
            EXPECT_TRUE(WaitFor([&] { return LockIsFree(lock); })) << "the driver did not end";
        }
    }

    void StartController() {
        const std::vector<std::string> arguments = {
            "--port=" + std::to_string(controllerPort),
            "--driver-port=" + std::to_string(relay.NearPort()), "--driver-option=--simulate=demo",
            "--driver-option=--pointer=none",
            // The driver listens behind the relay and answers the relay.
            "--driver-option=--port=" + std::to_string(driverPort),
            "--driver-option=--peer-port=" + std::to_string(relay.FarPort())};
        controller = std::make_unique<Process>(
            install.File("Controller"), arguments,
            std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime.Path()},
                                               {"XDG_CONFIG_HOME", runtime.File("config")}},
            runtime.File("controller-out"), runtime.File("controller-err"));
    }

    std::string Output() const {
        return "\nController stderr:\n" + ReadFile(runtime.File("controller-err"));
    }

    TempDir install;
    TempDir runtime;
    Relay relay;
    uint16_t controllerPort = 0;
    uint16_t driverPort = 0;
    std::unique_ptr<Process> controller;
};

TEST_F(ControllerProgram, FirstRunAboutPageTrayAndQuitAgainstTheSimulatedDriver) {
    StartController();
    const std::string profile = install.File("CONTROLLER.INI");
    const std::string settings = install.File("DRIVER.INI");

    // A fresh folder: the default profile, and the first-run dialog on the screen.
    ASSERT_TRUE(WaitFor([&] { return ReadFile(profile) == kDefaultProfile; }))
        << ReadFile(profile) << Output();
    A11y({"wait", kFirstRun});
    // The first driver says hello to the Controller through the relay.
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& p : relay.Log()) {
            if (p.way == Way::ToController && p.hello) {
                return true;
            }
        }
        return false;
    })) << Output();

    // OK with the preselected "S64" and "English": the layout reaches the driver and is saved,
    // the driver is stopped and a new one started (talking through the relay again, so with
    // the same options), and the profile says the first run is done.
    const auto confirmed = Clock::now();
    A11y({"press", kFirstRun, "push button", "OK"});
    EXPECT_TRUE(WaitFor([&] {
        const std::string ini = ReadFile(settings);
        return ini.find("Split_State_Split0=20\r\n") != std::string::npos &&
               ini.find("Split_State_Split1=24\r\n") != std::string::npos &&
               ini.find("Comms_ReqState_MuxSize=64\r\n") != std::string::npos;
    })) << ReadFile(settings);
    EXPECT_TRUE(WaitFor([&] {
        const std::string ini = ReadFile(profile);
        return ini.find("FIRST=0\r\n") != std::string::npos &&
               ini.find("LANG=19\r\n") != std::string::npos;
    })) << ReadFile(profile);
    EXPECT_EQ(ReadFile(profile).size(), kDefaultProfile.size()) << ReadFile(profile);
    EXPECT_GE(Count(relay.Log(), Way::ToDriver, "Driver/DoStop", confirmed), 1u);
    Clock::time_point restarted;
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& p : relay.Log()) {
            if (p.way == Way::ToController && p.hello && p.at > confirmed) {
                restarted = p.at;
                return true;
            }
        }
        return false;
    })) << "no new driver said hello"
        << Output();

    // The main window; its presence keeps the new driver talking.
    A11y({"wait", kWindow});
    EXPECT_TRUE(WaitFor([&] {
        return Count(relay.Log(), Way::ToDriver, "Client/client", restarted) >= 3;
    })) << Output();

    // The About page: the link line and the sampling rate the driver reports.
    A11y({"select", kWindow, "About"});
    std::string about;
    EXPECT_TRUE(WaitFor([&] {
        about = A11y({"text", kWindow, "About"});
        const auto rates = relay.SamplingRates();
        for (int32_t rate : rates) {
            if (rate > 0 &&
                about.find("Sampling rate : " + std::to_string(rate) + " ") != std::string::npos) {
                return about.find("Load driver: Successfully!") != std::string::npos;
            }
        }
        return false;
    })) << about;

    // "Run as Daemon": off to the tray. The presence stops, so the driver falls silent.
    A11y({"press", kWindow, "push button", "Run as Daemon"});
    const auto hidden = Clock::now();
    Clock::time_point lastHeard;
    EXPECT_TRUE(WaitFor([&] {
        const auto log = relay.Log();
        lastHeard = hidden;
        for (const auto& p : log) {
            if (p.way == Way::ToController && p.at > lastHeard) {
                lastHeard = p.at;
            }
        }
        return Clock::now() - lastHeard > std::chrono::seconds(4);
    })) << "the driver kept publishing while the Controller was in the tray";
    // While the driver was silent, nothing asked it to speak.
    EXPECT_EQ(Count(relay.Log(), Way::ToDriver, "Client/client", lastHeard), 0u);

    // A click on the tray icon: the window comes back, says hello and gets all 38 records.
    const auto shown = Clock::now();
    A11y({"tray"});
    EXPECT_TRUE(WaitFor([&] {
        std::set<int32_t> addresses;
        bool hello = false;
        for (const auto& p : relay.Log()) {
            if (p.at < shown) {
                continue;
            }
            hello = hello || (p.way == Way::ToDriver && p.hello);
            if (p.way == Way::ToController && !p.record.empty()) {
                addresses.insert(p.address);
            }
        }
        return hello && addresses.size() == static_cast<size_t>(kv::Registry::kEntries);
    })) << "no full publish-all after the tray click"
        << Output();
    EXPECT_TRUE(
        WaitFor([&] { return Count(relay.Log(), Way::ToDriver, "Client/client", shown) >= 1; }));

    // "Quit": the driver is asked to save and the Controller ends; the driver keeps running.
    const auto quit = Clock::now();
    A11y({"press", kWindow, "push button", "Quit"});
    EXPECT_EQ(controller->Wait(kWaitMs), 0) << Output();
    controller.reset();
    EXPECT_GE(Count(relay.Log(), Way::ToDriver, "Store/DoSave", quit), 1u);
    EXPECT_FALSE(LockIsFree(runtime.File("KELVARIN_DRIVER.lock")));
}

}  // namespace
