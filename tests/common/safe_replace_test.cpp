// The crash-safe replace when its last step fails: what was there stays, nothing is left over.
#include "common/safe_replace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace kv
