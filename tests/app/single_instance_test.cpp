// The single-instance lock, within one process (flock locks of separate opens conflict).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "driver/app/single_instance.h"
#include "tests/support/fake_clock.h"
#include "tests/support/process_support.h"

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

TEST(SingleInstance, AnUnusableFolderMeansNoLockSaidAtOnceWithItsReason) {
    test::TempDir dir;
    test::FakeClock clock;
    std::string error;
    const std::string path = dir.File("missing/lock");
    EXPECT_FALSE(SingleInstance::Acquire(path, kSingleInstanceWaitMs, clock, &error));
    EXPECT_EQ(clock.Slept(), 0);  // no other driver to wait for
    EXPECT_NE(error.find("cannot open the single-instance lock " + path), std::string::npos)
        << error;
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

    // Another driver holding the lock is no error: the caller says "another Driver".
    auto first = SingleInstance::Acquire(dir.File("lock"), kSingleInstanceWaitMs, clock);
    ASSERT_TRUE(first);
    error.clear();
    EXPECT_FALSE(SingleInstance::Acquire(dir.File("lock"), kSingleInstanceWaitMs, clock, &error));
    EXPECT_TRUE(error.empty()) << error;
}

TEST(SingleInstance, TheLockFileInASharedFolderCanBeOpenedByOtherUsers) {
    test::TempDir dir;
    test::FakeClock clock;
    const mode_t umaskBefore = ::umask(022);  // the usual one; 077 keeps every new file private
    auto held = SingleInstance::Acquire(dir.File("lock"), kSingleInstanceWaitMs, clock);
    ::umask(umaskBefore);
    ASSERT_TRUE(held);
    const auto permissions = std::filesystem::status(dir.File("lock")).permissions();
    EXPECT_NE(permissions & std::filesystem::perms::others_read, std::filesystem::perms::none);
}

TEST(SingleInstance, TheLockLivesInTheRuntimeFolderElseInAPrivateFolderInTmp) {
    {
        const test::ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/4242");
        EXPECT_EQ(LockFolder(), "/run/user/4242");
    }
    const std::string own = "/tmp/kelvarin-vyren-" + std::to_string(::geteuid());
    {
        const test::ScopedEnv runtime("XDG_RUNTIME_DIR", "");
        EXPECT_EQ(LockFolder(), own);
    }
    const test::ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(LockFolder(), own);
}

}  // namespace
}  // namespace kv
