// Real processes and sockets for the process tests: temporary folders, spawning the Driver
// with its own environment and output files, waiting for its exit, a loopback UDP peer.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kv::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
std::vector<std::string> ListFolder(const std::string& path);

// Tests run as root in CI, and root may write into any folder. For tests of what an ordinary
// user may not do, these run the program as the user 65534 (through setpriv) when the tests run
// as root, and as the test's own user otherwise.
struct Command {
    std::string program;
    std::vector<std::string> arguments;
};
Command AsOrdinaryUser(const std::string& program, std::vector<std::string> arguments);
// Makes folder the ordinary user's own (mode 0700).
void GiveToOrdinaryUser(const std::string& folder);
// Lets the ordinary user read and enter folder but not create files in it.
void MakeReadOnlyForOrdinaryUser(const std::string& folder);

class Process {
public:
    // Starts program with the arguments; env entries are added to (or replace) the test's
    // environment; stdout and stderr go to the given files.
    Process(const std::string& program, const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& env, const std::string& stdoutPath,
            const std::string& stderrPath);
    ~Process();  // kills a process that is still running
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // Sends a signal to a process that is still running.
    void Signal(int signal);
    // The exit status, or empty if it has not ended within timeoutMs (or was killed by a
    // signal).
    std::optional<int> Wait(int timeoutMs);

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// A UDP socket on 127.0.0.1 and a free port, standing in for the controller.
class UdpPeer {
public:
    UdpPeer();
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    uint16_t Port() const { return port_; }
    // Waits up to timeoutMs for a datagram; returns its bytes and remembers its source port.
    std::optional<std::vector<uint8_t>> Receive(int timeoutMs);
    uint16_t LastSourcePort() const { return lastSource_; }
    bool SendTo(uint16_t port, const std::vector<uint8_t>& bytes);

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    uint16_t lastSource_ = 0;
};

}  // namespace kv::test
