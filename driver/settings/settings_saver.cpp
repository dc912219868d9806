// Writing settings snapshots on a worker thread.
#include "driver/settings/settings_saver.h"

#include <utility>

namespace kv {

SettingsSaver::SettingsSaver(Writer write)
    : write_(std::move(write)), worker_([this] { Work(); }) {}

SettingsSaver::~SettingsSaver() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

void SettingsSaver::Submit(const SettingsSnapshot& values) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        pending_ = values;
    }
    changed_.notify_all();
}

void SettingsSaver::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !pending_ && !writing_; });
}

void SettingsSaver::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return pending_ || stopping_; });
        if (!pending_) {
            return;  // stopping, and everything queued is written
        }
        const SettingsSnapshot values = *pending_;
        pending_.reset();
        writing_ = true;
        lock.unlock();
        write_(values);
        lock.lock();
        writing_ = false;
        changed_.notify_all();
    }
}

}  // namespace kv
