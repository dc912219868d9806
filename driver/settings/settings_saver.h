// The worker that writes settings snapshots off the main loop: one write at a time, and of the
// snapshots that arrive during a write only the latest is written next.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "driver/settings/settings_file.h"

namespace kv {

class SettingsSaver {
public:
    using Writer = std::function<void(const SettingsSnapshot&)>;

    // Starts the worker; write runs on it, once per snapshot it takes.
    explicit SettingsSaver(Writer write);
    // Writes what is still pending, then ends the worker.
    ~SettingsSaver();
    SettingsSaver(const SettingsSaver&) = delete;
    SettingsSaver& operator=(const SettingsSaver&) = delete;

    // Queues values for writing, replacing any queued values whose write has not begun. Never
    // waits for a write.
    void Submit(const SettingsSnapshot& values);
    // Returns once nothing is queued or being written.
    void Flush();

private:
    void Work();

    Writer write_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<SettingsSnapshot> pending_;
    bool writing_ = false;
    bool stopping_ = false;
    std::thread worker_;  // last: starts once the state above exists
};

}  // namespace kv
