#include "tests/rigs/uhid-board/plug_requests.h"

namespace kv::uhidboard {

PlugAction NextPlugAction(const volatile PlugCounts& requested, PlugCounts& served) {
    // Replugs are read first: a replug's signal always follows its unplug's, so a replug seen
    // here brings its unplug with it in the read below.
    const std::sig_atomic_t replugs = requested.replugs;
    const std::sig_atomic_t unplugs = requested.unplugs;
    if (unplugs != served.unplugs) {
        served.unplugs = unplugs;
        return PlugAction::Unplug;
    }
    if (replugs != served.replugs) {
        served.replugs = replugs;
        return PlugAction::Replug;
    }
    return PlugAction::None;
}

}  // namespace kv::uhidboard
