// Process, folder and socket helpers for the process tests.
#include "tests/support/process_support.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kv::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kv-runtime-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
}

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        old_ = old;
    }
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    if (old_) {
        ::setenv(name_, old_->c_str(), 1);
    } else {
        ::unsetenv(name_);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

ShellResult RunShell(const std::string& commandLine) {
    ShellResult result;
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, n);
    }
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

constexpr uid_t kOrdinaryUser = 65534;

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

}  // namespace

Command AsOrdinaryUser(const std::string& program, std::vector<std::string> arguments) {
    if (!RunningAsRoot()) {
        return {program, std::move(arguments)};
    }
    const std::string id = std::to_string(kOrdinaryUser);
    std::vector<std::string> wrapped = {"--reuid=" + id, "--regid=" + id, "--clear-groups",
                                        program};
    wrapped.insert(wrapped.end(), arguments.begin(), arguments.end());
    return {"/usr/bin/setpriv", std::move(wrapped)};
}

void GiveToOrdinaryUser(const std::string& folder) {
    if (RunningAsRoot()) {
        [[maybe_unused]] const int changed = ::chown(folder.c_str(), kOrdinaryUser, kOrdinaryUser);
    }
    ::chmod(folder.c_str(), 0700);
}

void MakeReadOnlyForOrdinaryUser(const std::string& folder) {
    // Root's folder, open to others for reading; the test's own folder without write access.
    ::chmod(folder.c_str(), RunningAsRoot() ? 0755 : 0555);
}

std::vector<char*> NullEnded(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

Process::Process(const std::string& program, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& env, const std::string& stdoutPath,
                 const std::string& stderrPath) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos) {
            merged[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : env) {
        merged[name] = value;
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : merged) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> envp = NullEnded(envText);

    std::vector<std::string> argText = {program};
    argText.insert(argText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = NullEnded(argText);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

Process::~Process() {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

void Process::Signal(int signal) {
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, signal);
    }
}

std::optional<int> Process::Wait(int timeoutMs) {
    if (pid_ <= 0 || reaped_) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            reaped_ = true;
            if (WIFEXITED(status)) {
                return WEXITSTATUS(status);
            }
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

UdpPeer::UdpPeer(const std::string& host, uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (fd_ >= 0 && ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1 &&
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
}

UdpPeer::~UdpPeer() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::optional<std::vector<uint8_t>> UdpPeer::Receive(int timeoutMs) {
    pollfd waiting{fd_, POLLIN, 0};
    if (::poll(&waiting, 1, timeoutMs) <= 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(65536);
    sockaddr_in source{};
    socklen_t length = sizeof source;
    const ssize_t n = ::recvfrom(fd_, bytes.data(), bytes.size(), 0,
                                 reinterpret_cast<sockaddr*>(&source), &length);
    if (n < 0) {
        return std::nullopt;
    }
    bytes.resize(static_cast<size_t>(n));
    lastSource_ = ntohs(source.sin_port);
    return bytes;
}

std::vector<std::vector<uint8_t>> UdpPeer::ReceiveMany(size_t count) {
    std::vector<std::vector<uint8_t>> all;
    while (all.size() < count) {
        auto next = Receive();
        if (!next) {
            break;
        }
        all.push_back(std::move(*next));
    }
    return all;
}

bool UdpPeer::Pending() const {
    pollfd waiting{fd_, POLLIN, 0};
    return ::poll(&waiting, 1, 0) > 0;
}

bool UdpPeer::SendTo(uint16_t port, const std::vector<uint8_t>& bytes) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
                    sizeof address) == static_cast<ssize_t>(bytes.size());
}

std::optional<std::string> NonLoopbackAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return std::nullopt;
    }
    std::optional<std::string> found;
    for (ifaddrs* it = list; it != nullptr && !found; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        if ((ntohl(in->sin_addr.s_addr) >> 24) != 127) {
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
            found = text;
        }
    }
    ::freeifaddrs(list);
    return found;
}

uint16_t AwaitDriverHello(UdpPeer& peer, int timeoutMs) {
    for (;;) {
        const auto datagram = peer.Receive(timeoutMs);
        if (!datagram) {
            return 0;
        }
        if (*datagram == kDriverHello) {
            return peer.LastSourcePort();
        }
    }
}

}  // namespace kv::test
