// Reading live event lines for the simulated board.
#include "driver/sim/live_scenario_input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kv::sim {

bool IsLiveSource(const std::string& nameOrPath) {
    if (nameOrPath == "-") {
        return true;
    }
    struct stat info {};
    return stat(nameOrPath.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

std::unique_ptr<LiveScenarioInput> LiveScenarioInput::Open(const std::string& source, Notice notice,
                                                           std::string& error) {
    if (source == "-") {
        return std::make_unique<LiveScenarioInput>(STDIN_FILENO, false, std::move(notice));
    }
    // Read and write: the pipe then always has a writer (us), so reading never sees its end
    // between one writer and the next, and opening does not wait for a writer.
    const int fd = open(source.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + source + ": " + std::strerror(errno);
        return nullptr;
    }
    // Whoever writes to the pipe touches the screen: it must be ours, and only ours to write.
    struct stat info {};
    std::string refusal;
    if (fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) {
        refusal = "it is not a named pipe";
    } else if (info.st_uid != geteuid()) {
        refusal = "it belongs to uid " + std::to_string(info.st_uid);
    } else if ((info.st_mode & 022) != 0) {
        refusal = "other users may write to it (make it with mkfifo -m 600)";
    }
    if (!refusal.empty()) {
        close(fd);
        error = "refusing the live input " + source + ": " + refusal;
        return nullptr;
    }
    return std::make_unique<LiveScenarioInput>(fd, true, std::move(notice));
}

LiveScenarioInput::LiveScenarioInput(int fd, bool ownsFd, Notice notice)
    : fd_(fd), ownsFd_(ownsFd), notice_(std::move(notice)) {
    if (pipe2(wake_, O_CLOEXEC) != 0) {
        wake_[0] = wake_[1] = -1;
    }
    reader_ = std::thread([this] { ReadLoop(); });
}

LiveScenarioInput::~LiveScenarioInput() {
    if (wake_[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = write(wake_[1], &byte, 1);
    }
    reader_.join();
    for (const int fd : wake_) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (ownsFd_) {
        close(fd_);
    }
}

void LiveScenarioInput::ReadLoop() {
    std::string partial;
    bool overlong = false;  // dropping the rest of a line that outgrew kMaxLiveLineBytes
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int ready = poll(fds, wake_[0] >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            break;  // being destroyed
        }
        if (fds[0].revents == 0) {
            continue;
        }
        const ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got <= 0) {
            Take(partial);  // a last line without its newline
            break;
        }
        partial.append(buffer, static_cast<size_t>(got));
        size_t start = 0;
        for (size_t end = partial.find('\n'); end != std::string::npos;
             end = partial.find('\n', start)) {
            if (end - start > kMaxLiveLineBytes) {
                DropOverlong(overlong);
            } else if (!overlong) {
                Take(std::string_view(partial).substr(start, end - start));
            }
            overlong = false;
            start = end + 1;
        }
        partial.erase(0, start);
        // No event line is that long: the rest of it is dropped, not kept in memory.
        if (partial.size() > kMaxLiveLineBytes) {
            DropOverlong(overlong);
            overlong = true;
            partial.clear();
        }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
}

void LiveScenarioInput::DropOverlong(bool said) {
    if (!said && notice_) {
        notice_("line longer than " + std::to_string(kMaxLiveLineBytes) + " bytes: ignored");
    }
}

void LiveScenarioInput::Take(std::string_view line) {
    ScenarioError error;
    auto event = parser_.Parse(line, error);
    if (!event) {
        if (!error.message.empty() && notice_) {
            notice_(error.Text());
        }
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    arrived_.push_back(*event);
}

void LiveScenarioInput::ApplyDue(SimulatedBoard& board, double now) {
    {
        // The reader holds the lock only to append a line: if it does just now, the line is
        // picked up on the next frame instead.
        std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
        if (lock.owns_lock()) {
            for (const ScenarioEvent& event : arrived_) {
                lastDue_ = std::max(lastDue_, now + event.time);
                pending_.push_back({event, lastDue_});
            }
            arrived_.clear();
        }
    }
    while (!pending_.empty() && pending_.front().due <= now) {
        board.ApplyNow(pending_.front().event);
        pending_.pop_front();
    }
}

bool LiveScenarioInput::Ended() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

}  // namespace kv::sim
