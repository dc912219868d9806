// The single-instance lock, within one process (flock locks of separate opens conflict).
#include <gtest/gtest.h>
#include <stdlib.h>

#include "driver/runtime/single_instance.h"
#include "process_support.h"
#include "runtime_support.h"

namespace kv {
namespace {

TEST(SingleInstance, ASecondHolderWaitsASecondAndGivesUp) {
    test::TempDir dir;
    test::FakeClock clock;
    const std::string path = dir.File(kDriverLockName);
    auto first = SingleInstance::Acquire(path, kSingleInstanceWaitMs, clock);
    ASSERT_TRUE(first);
    EXPECT_EQ(clock.Slept(), 0);

    auto second = SingleInstance::Acquire(path, kSingleInstanceWaitMs, clock);
    EXPECT_FALSE(second);
    EXPECT_GE(clock.Slept(), 1000);
    EXPECT_LT(clock.Slept(), 1100);

    first.reset();
    EXPECT_TRUE(SingleInstance::Acquire(path, kSingleInstanceWaitMs, clock));
}

TEST(SingleInstance, AnUnusableFolderMeansNoLock) {
    test::TempDir dir;
    test::FakeClock clock;
    EXPECT_FALSE(SingleInstance::Acquire(dir.File("missing/lock"), kSingleInstanceWaitMs, clock));
}

TEST(SingleInstance, TheLockLivesInTheRuntimeFolderElseTmp) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string previous = saved != nullptr ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(LockFolder(), "/run/user/4242");
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(LockFolder(), "/tmp");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(LockFolder(), "/tmp");
    if (saved != nullptr) {
        ::setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
    }
}

}  // namespace
}  // namespace kv
