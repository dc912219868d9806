// Unplug and replug requests from signals: each is served once, and a replug that arrives
// with its unplug is served after it, so a quick pair always ends with the board plugged.
#include <gtest/gtest.h>

#include <vector>

#include "tests/rigs/uhid-board/plug_requests.h"

using namespace kv::uhidboard;

namespace {

// Serves everything pending, as the board's loop does between two waits.
std::vector<PlugAction> ServeAll(const PlugCounts& requested, PlugCounts& served) {
    std::vector<PlugAction> actions;
    for (auto action = NextPlugAction(requested, served); action != PlugAction::None;
         action = NextPlugAction(requested, served)) {
        actions.push_back(action);
    }
    return actions;
}

}  // namespace

TEST(PlugRequests, EachRequestIsServedOnceAndAReplugNeverOvertakesItsUnplug) {
    PlugCounts requested;
    PlugCounts served;
    EXPECT_TRUE(ServeAll(requested, served).empty());

    // Unplug, later replug.
    requested.unplugs = 1;
    EXPECT_EQ(ServeAll(requested, served), std::vector<PlugAction>{PlugAction::Unplug});
    requested.replugs = 1;
    EXPECT_EQ(ServeAll(requested, served), std::vector<PlugAction>{PlugAction::Replug});
    EXPECT_TRUE(ServeAll(requested, served).empty());

    // Both signals before the loop looks: unplug first, then replug.
    requested.unplugs = 2;
    requested.replugs = 2;
    EXPECT_EQ(ServeAll(requested, served),
              (std::vector<PlugAction>{PlugAction::Unplug, PlugAction::Replug}));

    // The loop saw no unplug, then both signals came before it looked for a replug: the
    // replug it now finds still comes after the unplug.
    EXPECT_EQ(NextPlugAction(requested, served), PlugAction::None);
    requested.unplugs = 3;
    requested.replugs = 3;
    EXPECT_EQ(NextPlugAction(requested, served), PlugAction::Unplug);
    EXPECT_EQ(NextPlugAction(requested, served), PlugAction::Replug);
    EXPECT_EQ(NextPlugAction(requested, served), PlugAction::None);
}
