// Real processes and sockets for the process tests: temporary folders, spawning the Driver
// with its own environment and output files, waiting for its exit, a UDP peer, waiting for
// another thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
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

// Sets an environment variable (or, given nothing, removes it) for one scope and puts the old
// value back at its end. Only for tests that start no threads reading the environment.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text);
std::vector<std::string> ListFolder(const std::string& path);
// How often part stands in text (overlapping places count too): how many times a log says it.
size_t Occurrences(const std::string& text, const std::string& part);

// How a shell command line ended and what it printed on standard output.
struct ShellResult {
    int status = -1;  // the exit status; -1 when it did not run or was ended by a signal
    std::string output;
};
// Runs the command line through /bin/sh; standard error goes where the line sends it.
ShellResult RunShell(const std::string& commandLine);

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

// Pointers to the texts, ended by a null pointer: an argv or envp for posix_spawn. The texts
// must stay as they are while it is used.
std::vector<char*> NullEnded(std::vector<std::string>& texts);

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

// A UDP socket on 127.0.0.1 (or the given address) and a free port (or the given one), standing
// in for the other program, so that tests see the exact datagrams.
class UdpPeer {
public:
    explicit UdpPeer(const std::string& address = "127.0.0.1", uint16_t port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    uint16_t Port() const { return port_; }
    // Waits up to timeoutMs for a datagram; returns its bytes and remembers its source port.
    // The default limit only ends a broken test.
    std::optional<std::vector<uint8_t>> Receive(int timeoutMs = 20000);
    // Up to count datagrams, fewer if one does not come within the default limit.
    std::vector<std::vector<uint8_t>> ReceiveMany(size_t count);
    // True when a datagram is waiting now; used once whatever could have been sent was sent.
    bool Pending() const;
    uint16_t LastSourcePort() const { return lastSource_; }
    // Sends to a port on 127.0.0.1.
    bool SendTo(uint16_t port, const std::vector<uint8_t>& bytes);

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    uint16_t lastSource_ = 0;
};

// The hello a Driver sends when it starts (Driver/DoReset announcing itself).
inline const std::vector<uint8_t> kDriverHello = {0x00, 0xFF, 0x02, 0xB3, 0x15, 0x00,
                                                  0x00, 0x0B, 0x00, 0x00, 0x00};
// The driver's port, from the first hello that reaches peer within timeoutMs; 0 when none came.
uint16_t AwaitDriverHello(UdpPeer& peer, int timeoutMs);

// The first IPv4 address of this machine outside 127.0.0.0/8, if there is one.
std::optional<std::string> NonLoopbackAddress();

// A generous bound for waits on a shared, slow machine; it only ends a broken test.
constexpr int kTestWaitMs = 90000;

// Waits until done() holds, polling, for at most limitMs. Nothing is asserted about how long it
// took.
template <class Predicate>
bool WaitFor(Predicate done, int limitMs = kTestWaitMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace kv::test
