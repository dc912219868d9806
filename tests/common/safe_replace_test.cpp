// The crash-safe replace when its last step fails: what was there stays, nothing is left over.
#include "common/safe_replace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/process_support.h"

namespace kv {
namespace {

TEST(SafeReplace, AFailedRenameLeavesTheTargetAndNoTemporaryForEitherKindOfName) {
    for (const char* temporary : {"DRIVER.INI.tmp1", "DRIVER.INI.XXXXXX"}) {
        SCOPED_TRACE(temporary);
        test::TempDir dir;
        // A folder that is not empty cannot be renamed over.
        const std::string target = dir.File("DRIVER.INI");
        ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
        test::WriteFile(target + "/kept", "old");

        ReplaceOptions options;
        options.temporary = dir.File(temporary);
        options.syncFolder = true;
        const ReplaceResult result = ReplaceFileSafely(target, "new", options);

        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.noTemporary);
        EXPECT_NE(result.error, 0);
        EXPECT_EQ(result.what.rfind("cannot rename " + dir.File("DRIVER.INI."), 0), 0)
            << result.what;
        EXPECT_EQ(test::ReadFile(target + "/kept"), "old");
        EXPECT_EQ(test::ListFolder(dir.Path()), std::vector<std::string>{"DRIVER.INI"});
    }
}

// A replace that gives the file another owner keeps the mode it asks for, set-id bits included
// (a change of owner clears them); only root may give a file away.
TEST(SafeReplace, AGivenOwnerAndModeBothHoldSetIdBitsIncluded) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root may give a file to another user";
    }
    test::TempDir dir;
    const std::string target = dir.File("tool");
    ReplaceOptions options;
    options.temporary = dir.File("tool.XXXXXX");
    options.mode = 06755;
    options.owner = std::make_pair(uid_t{65534}, gid_t{65534});
    ASSERT_TRUE(ReplaceFileSafely(target, "new", options).ok);
    struct stat written {};
    ASSERT_EQ(::stat(target.c_str(), &written), 0);
    EXPECT_EQ(written.st_mode & 07777, 06755u);
    EXPECT_EQ(written.st_uid, 65534u);
    EXPECT_EQ(test::ReadFile(target), "new");
}

}  // namespace
}  // namespace kv
