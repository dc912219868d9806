// Unplug and replug requests that arrive as signals (SIGUSR1, SIGUSR2), served by the loop
// that owns the device. The handlers only count; the loop compares the counts with what it
// has served. A replug that arrives together with an unplug is served after it, whichever
// the loop happens to look at first, so a quick unplug-replug pair never leaves the board
// unplugged.
#pragma once

#include <csignal>

namespace kv::uhidboard {

struct PlugCounts {
    std::sig_atomic_t unplugs = 0;
    std::sig_atomic_t replugs = 0;
};

enum class PlugAction { None, Unplug, Replug };

// The next thing to do for the requests counted so far; marks it served. Unplug and Replug
// are returned even when the device already is in that state (nothing to do then).
// requested is read field by field, so it may be a structure the handlers write.
PlugAction NextPlugAction(const volatile PlugCounts& requested, PlugCounts& served);

}  // namespace kv::uhidboard
