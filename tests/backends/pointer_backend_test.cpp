// Choosing the pointer backend: what auto picks in each environment, and explicit choices
// that cannot be made.
#include "driver/app/pointer_backend.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "driver/backends/x11/xtest_pointer.h"
#include "tests/support/xvfb_server.h"

namespace kv::test {
namespace {

constexpr const char* kMissingUinput = "/nonexistent-kv/uinput";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A writable file that is not a uinput node, unique to the running test.
class ScratchFile {
public:
    ScratchFile() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = ::testing::TempDir() + "kv_uinput_" + info->test_suite_name() + "_" + info->name();
        std::ofstream(path_) << "";
    }
    ~ScratchFile() { std::remove(path_.c_str()); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

TEST(PointerBackendTest, ParsesTheFourNames) {
    PointerBackend backend = PointerBackend::None;
    EXPECT_TRUE(ParsePointerBackend("auto", backend));
    EXPECT_EQ(backend, PointerBackend::Auto);
    EXPECT_TRUE(ParsePointerBackend("uinput", backend));
    EXPECT_EQ(backend, PointerBackend::Uinput);
    EXPECT_TRUE(ParsePointerBackend("xtest", backend));
    EXPECT_EQ(backend, PointerBackend::XTest);
    EXPECT_TRUE(ParsePointerBackend("none", backend));
    EXPECT_EQ(backend, PointerBackend::None);
    EXPECT_FALSE(ParsePointerBackend("XTest", backend));
    EXPECT_FALSE(ParsePointerBackend("", backend));
    EXPECT_EQ(backend, PointerBackend::None);  // unchanged by a failed parse
}

TEST(PointerBackendTest, AutoWithoutUinputOrDisplayInjectsNothing) {
    const PointerBackendChoice choice =
        ChoosePointerBackend(PointerBackend::Auto, {kMissingUinput, ""});
    ASSERT_NE(choice.injector, nullptr);
    EXPECT_NE(dynamic_cast<NullPointerInjector*>(choice.injector.get()), nullptr);
    EXPECT_TRUE(choice.error.empty());
    EXPECT_TRUE(Contains(choice.description, "none")) << choice.description;
    EXPECT_TRUE(Contains(choice.description, "DISPLAY is not set")) << choice.description;
    EXPECT_EQ(choice.description.find('\n'), std::string::npos);
}

TEST(PointerBackendTest, RequestedUinputWithoutTheNodeIsAClearError) {
    const PointerBackendChoice choice =
        ChoosePointerBackend(PointerBackend::Uinput, {kMissingUinput, ""});
    EXPECT_EQ(choice.injector, nullptr);
    EXPECT_TRUE(Contains(choice.error, kMissingUinput)) << choice.error;
    EXPECT_TRUE(Contains(choice.error, "No such file")) << choice.error;
}

TEST(PointerBackendTest, RequestedUinputOnSomethingElseIsAnError) {
    ScratchFile notUinput;
    const PointerBackendChoice choice =
        ChoosePointerBackend(PointerBackend::Uinput, {notUinput.Path(), ""});
    EXPECT_EQ(choice.injector, nullptr);
    EXPECT_TRUE(Contains(choice.error, "cannot create")) << choice.error;
}

TEST(PointerBackendTest, AutoPassesOverAWritableNodeThatIsNotUinput) {
    ScratchFile notUinput;
    const PointerBackendChoice choice =
        ChoosePointerBackend(PointerBackend::Auto, {notUinput.Path(), ""});
    ASSERT_NE(choice.injector, nullptr);
    EXPECT_NE(dynamic_cast<NullPointerInjector*>(choice.injector.get()), nullptr);
    EXPECT_TRUE(Contains(choice.description, "cannot create")) << choice.description;
}

TEST(PointerBackendTest, RequestedXTestWithoutDisplayIsAnError) {
    const PointerBackendChoice choice =
        ChoosePointerBackend(PointerBackend::XTest, {kMissingUinput, ""});
    EXPECT_EQ(choice.injector, nullptr);
    EXPECT_TRUE(Contains(choice.error, "DISPLAY")) << choice.error;
}

TEST(PointerBackendTest, RequestedXTestOnAnUnreachableDisplayIsAnError) {
    const PointerBackendChoice choice =
        ChoosePointerBackend(PointerBackend::XTest, {kMissingUinput, ":6999"});
    EXPECT_EQ(choice.injector, nullptr);
    EXPECT_TRUE(Contains(choice.error, ":6999")) << choice.error;
}

TEST(PointerBackendTest, NoneIsAlwaysAvailable) {
    const PointerBackendChoice choice =
        ChoosePointerBackend(PointerBackend::None, {kMissingUinput, ":6999"});
    ASSERT_NE(choice.injector, nullptr);
    EXPECT_NE(dynamic_cast<NullPointerInjector*>(choice.injector.get()), nullptr);
    EXPECT_TRUE(choice.error.empty());
}

TEST(XvfbBackendTest, AutoFallsBackToXTestWhenUinputIsNotWritable) {
    XvfbServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const PointerBackendChoice choice =
        ChoosePointerBackend(PointerBackend::Auto, {kMissingUinput, server.Name()});
    ASSERT_NE(choice.injector, nullptr) << choice.error;
    EXPECT_NE(dynamic_cast<XTestPointer*>(choice.injector.get()), nullptr);
    EXPECT_TRUE(Contains(choice.description, "XTest")) << choice.description;
    EXPECT_TRUE(Contains(choice.description, server.Name())) << choice.description;
}

TEST(XvfbBackendTest, RequestedXTestOnARunningServer) {
    XvfbServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    const PointerBackendChoice choice =
        ChoosePointerBackend(PointerBackend::XTest, {kMissingUinput, server.Name()});
    ASSERT_NE(choice.injector, nullptr) << choice.error;
    EXPECT_NE(dynamic_cast<XTestPointer*>(choice.injector.get()), nullptr);
}

}  // namespace
}  // namespace kv::test
