// sway IPC client over a Unix socket: "i3-ipc", payload length and type (host byte order),
// then the payload.
#include "desktop/sway_ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "desktop/input_devices.h"

namespace kv {

namespace {

constexpr std::string_view kMagic = "i3-ipc";
constexpr uint32_t kRunCommand = 0;
constexpr size_t kHeaderSize = kMagic.size() + 2 * sizeof(uint32_t);
// A reply to one command is a few dozen bytes; anything far longer is not sway's.
constexpr uint32_t kLongestReply = 64 * 1024;

// The value of "key" in a flat JSON object: a string without its quotes and with its
// escapes taken, or a bare word (true, false); empty when absent.
std::string ValueOf(std::string_view json, std::string_view key) {
    std::string quoted = "\"";
    quoted.append(key).append("\"");
    const size_t at = json.find(quoted);
    if (at == std::string_view::npos) {
        return {};
    }
    size_t i = json.find_first_not_of(" \t\r\n", at + quoted.size());
    if (i == std::string_view::npos || json[i] != ':') {
        return {};
    }
    i = json.find_first_not_of(" \t\r\n", i + 1);
    if (i == std::string_view::npos) {
        return {};
    }
    std::string value;
    if (json[i] != '"') {
        while (i < json.size() && std::isalpha(static_cast<unsigned char>(json[i])) != 0) {
            value.push_back(json[i++]);
        }
        return value;
    }
    for (++i; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] == '\\' && i + 1 < json.size()) {
            ++i;
        }
        value.push_back(json[i]);
    }
    return value;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

using SteadyClock = std::chrono::steady_clock;

// Waits for the socket until the deadline; false when it passed (timedOut set) or the wait
// failed.
bool Wait(int fd, short events, SteadyClock::time_point deadline, bool& timedOut) {
    pollfd p{fd, events, 0};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
                .count();
        if (left <= 0) {
            timedOut = true;
            return false;
        }
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

bool SendAll(int fd, const char* data, size_t size, SteadyClock::time_point deadline,
             bool& timedOut) {
    while (size > 0) {
        if (!Wait(fd, POLLOUT, deadline, timedOut)) {
            return false;
        }
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool ReceiveAll(int fd, char* data, size_t size, SteadyClock::time_point deadline, bool& timedOut) {
    while (size > 0) {
        if (!Wait(fd, POLLIN, deadline, timedOut)) {
            return false;
        }
        const ssize_t got = ::recv(fd, data, size, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

SwayCommandResult Failed(std::string why) {
    return {false, std::move(why)};
}

}  // namespace

SwayCommandResult ParseSwayCommandReply(std::string_view payload) {
    // One object per command; an object without "success": true carries sway's "error".
    size_t objects = 0;
    size_t at = 0;
    while ((at = payload.find('{', at)) != std::string_view::npos) {
        const size_t end = payload.find('}', at);
        const std::string_view object = payload.substr(
            at, end == std::string_view::npos ? std::string_view::npos : end - at + 1);
        ++objects;
        if (ValueOf(object, "success") != "true") {
            std::string error = ValueOf(object, "error");
            return Failed(error.empty() ? "sway did not take the command" : std::move(error));
        }
        if (end == std::string_view::npos) {
            break;
        }
        at = end + 1;
    }
    if (objects == 0) {
        return Failed("sway's reply holds no result");
    }
    return {true, {}};
}

SwayCommandResult RunSwayCommand(const std::string& socketPath, std::string_view command,
                                 int timeoutMs) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof(address.sun_path)) {
        return Failed("no usable sway socket path");
    }
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    const Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0 ||
        ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        std::string why = "cannot reach sway at ";
        why.append(socketPath).append(": ").append(std::strerror(errno));
        return Failed(std::move(why));
    }

    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false;
    const auto late = [&timeoutMs](const char* what) {
        std::string why = what;
        why.append(" within ").append(std::to_string(timeoutMs)).append(" ms");
        return Failed(std::move(why));
    };
    std::string message(kMagic);
    const auto length = static_cast<uint32_t>(command.size());
    message.append(reinterpret_cast<const char*>(&length), sizeof(length));
    message.append(reinterpret_cast<const char*>(&kRunCommand), sizeof(kRunCommand));
    message.append(command);
    if (!SendAll(fd.Get(), message.data(), message.size(), deadline, timedOut)) {
        return timedOut ? late("sway did not take the message")
                        : Failed("sway did not take the message");
    }

    std::array<char, kHeaderSize> header{};
    if (!ReceiveAll(fd.Get(), header.data(), header.size(), deadline, timedOut)) {
        return timedOut ? late("sway did not answer") : Failed("sway did not answer");
    }
    uint32_t replyLength = 0;
    uint32_t replyType = 0;
    std::memcpy(&replyLength, header.data() + kMagic.size(), sizeof(replyLength));
    std::memcpy(&replyType, header.data() + kMagic.size() + sizeof(replyLength), sizeof(replyType));
    if (std::string_view(header.data(), kMagic.size()) != kMagic || replyType != kRunCommand ||
        replyLength > kLongestReply) {
        return Failed("the answer on the sway socket is not sway's");
    }
    std::string payload(replyLength, '\0');
    if (!ReceiveAll(fd.Get(), payload.data(), payload.size(), deadline, timedOut)) {
        return timedOut ? late("sway's answer did not end") : Failed("sway's answer ended early");
    }
    return ParseSwayCommandReply(payload);
}

SwayMapResult MapDevicesInSway(const std::string& socketPath, std::string_view output,
                               int timeoutMs) {
    SwayMapResult result;
    for (const std::string& command : SwayMapCommands(output)) {
        const SwayCommandResult one = RunSwayCommand(socketPath, command, timeoutMs);
        if (!one.ok) {
            result.error = one.error;
            result.failedCommand = command;
            // The undo of an undo has nothing left to fall back on.
            if (output != "*") {
                result.undone = MapDevicesInSway(socketPath, "*", timeoutMs).ok;
            }
            return result;
        }
        result.commands.push_back(command);
    }
    result.ok = true;
    return result;
}

}  // namespace kv
