// Starting and stopping a private Xvfb for the injection and display tests.
#include "tests/support/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tests/support/process_support.h"

extern char** environ;

namespace kv::test {

namespace {

// Generous: the machines are shared, and this bounds only a failure, not a measurement.
constexpr int kStartTimeoutMs = 30000;

}  // namespace

XvfbServer::XvfbServer(int width, int height, const std::string& display) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    // The write end must survive exec; it is the only descriptor the server is told about.
    const int writeFd = fcntl(fds[1], F_DUPFD, 3);
    close(fds[1]);
    const std::string fdText = std::to_string(writeFd);
    const std::string geometry = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::vector<std::string> args = {"Xvfb",   "-displayfd", fdText, "-screen", "0",
                                     geometry, "-nolisten",  "tcp",  "-noreset"};
    if (!display.empty()) {
        args.insert(args.begin() + 1, display);
    }
    std::vector<char*> argv = NullEnded(args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(writeFd);
    if (rc != 0) {
        pid_ = -1;
        close(fds[0]);
        error_ = std::string("cannot start Xvfb: ") + std::strerror(rc);
        return;
    }

    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (number.empty() || number.back() != '\n') {
        if (poll(&p, 1, kStartTimeoutMs) <= 0) {
            break;
        }
        char buffer[16];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        number.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (number.empty() || number.back() != '\n') {
        error_ = "Xvfb did not report a display";
        return;
    }
    number.pop_back();
    name_ = ":" + number;
}

XvfbServer::~XvfbServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

void XvfbServer::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

}  // namespace kv::test
