// Event lines for the simulated board written while it runs, from standard input or a named
// pipe: a person or a test touches the simulated foil live. A thread of its own reads and
// parses the lines; the frame path only picks up what has arrived, without waiting.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/sim/scenario.h"
#include "driver/sim/simulated_board.h"

namespace kv::sim {

// The longest event line taken; a longer one is dropped whole.
constexpr size_t kMaxLiveLineBytes = 4096;

// True for "-" (standard input) and for a path that names a named pipe.
bool IsLiveSource(const std::string& nameOrPath);

class LiveScenarioInput {
public:
    // Where a malformed line is reported ("line N: why"); called on the reading thread.
    using Notice = std::function<void(const std::string&)>;

    // "-": standard input, until it ends. A named pipe is opened for reading and writing, so
    // that it never ends: one writer after another can send lines. Null with the reason when
    // it cannot be opened, or is not a pipe of this user that only this user may write.
    static std::unique_ptr<LiveScenarioInput> Open(const std::string& source, Notice notice,
                                                   std::string& error);

    // Reads lines from fd until it ends or this is destroyed; closes fd only when it owns it.
    LiveScenarioInput(int fd, bool ownsFd, Notice notice);
    ~LiveScenarioInput();
    LiveScenarioInput(const LiveScenarioInput&) = delete;
    LiveScenarioInput& operator=(const LiveScenarioInput&) = delete;

    // On the frame path, with the time line's current time in seconds: takes the lines that
    // have arrived (if the reader is not handing one over just now) and applies to the board
    // those that are due. A line takes effect its delay after it was picked up, and never
    // before the line written before it.
    void ApplyDue(SimulatedBoard& board, double now);

    // True once the input has ended (end of file, or the reader stopped).
    bool Ended() const;

private:
    struct Pending {
        ScenarioEvent event;
        double due = 0.0;
    };

    void ReadLoop();
    void Take(std::string_view line);
    // Says once that a line was too long (unless said is set).
    void DropOverlong(bool said);

    int fd_;
    bool ownsFd_;
    int wake_[2] = {-1, -1};  // written to on destruction: the reader stops waiting
    Notice notice_;
    LiveLineParser parser_;  // reader thread only

    mutable std::mutex mutex_;
    std::vector<ScenarioEvent> arrived_;  // guarded by mutex_
    bool ended_ = false;                  // guarded by mutex_

    std::deque<Pending> pending_;  // frame path only
    double lastDue_ = 0.0;

    std::thread reader_;
};

}  // namespace kv::sim
