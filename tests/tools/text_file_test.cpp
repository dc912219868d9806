// The files kvctl writes: export's file as its user expects it (what is there decides between
// replacing, writing through and refusing), and the metrics file, which never follows a link
// and sweeps what killed runs left.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <string>

#include "tests/support/process_support.h"
#include "tools/kvctl/text_file.h"

namespace {

using kv::test::TempDir;

struct stat Stat(const std::string& path, bool follow = true) {
    struct stat info {};
    EXPECT_EQ(follow ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info), 0) << path;
    return info;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

TEST(KvctlUserFile, ReplacesFilesKeepingTheirLooksWritesThroughWhatIsNoFileAndRefusesTheRest) {
    TempDir dir;
    const std::string text = "[Sense/State]\nPressThreshold = 12\n";
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_NONBLOCK), 0);  // a read finds what was written, or nothing
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int fifoReader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fifoReader, 0);
    const auto readAll = [](int fd) {
        char buffer[256];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : std::string();
    };
    const struct stat devNull = Stat("/dev/null");

    const struct Case {
        const char* name;
        std::function<void(const std::string& path)> make;  // what is at the path before
        bool written;
        std::function<void(const std::string& path)> check;
    } cases[] = {
        {"new file follows the umask", nullptr, true,
         [&](const std::string& p) {
             EXPECT_EQ(Stat(p).st_mode & 07777, 0640u);
             EXPECT_EQ(kv::test::ReadFile(p), text);
         }},
        {"an existing file keeps its mode",
         [](const std::string& p) {
             kv::test::WriteFile(p, "old");
             ::chmod(p.c_str(), 0604);
         },
         true,
         [&](const std::string& p) {
             EXPECT_EQ(Stat(p).st_mode & 07777, 0604u);
             EXPECT_EQ(kv::test::ReadFile(p), text);
         }},
        {"a link to a file stays a link",
         [&](const std::string& p) {
             kv::test::WriteFile(dir.File("target"), "old");
             ::symlink("target", p.c_str());
         },
         true,
         [&](const std::string& p) {
             EXPECT_TRUE(S_ISLNK(Stat(p, false).st_mode));
             EXPECT_EQ(kv::test::ReadFile(dir.File("target")), text);
         }},
        {"a file of two names keeps both",
         [&](const std::string& p) {
             kv::test::WriteFile(p, "old");
             ::link(p.c_str(), dir.File("second").c_str());
         },
         true,
         [&](const std::string&) { EXPECT_EQ(kv::test::ReadFile(dir.File("second")), text); }},
        {"a link to a device is written through",
         [](const std::string& p) { ::symlink("/dev/null", p.c_str()); }, true,
         [&](const std::string& p) {
             EXPECT_TRUE(S_ISLNK(Stat(p, false).st_mode));
             const struct stat after = Stat("/dev/null");
             EXPECT_TRUE(S_ISCHR(after.st_mode));
             EXPECT_EQ(after.st_ino, devNull.st_ino);
         }},
        {"a link to a process's descriptor is written through",
         [&](const std::string& p) {
             ::symlink(("/proc/self/fd/" + std::to_string(pipeEnds[1])).c_str(), p.c_str());
         },
         true,
         [&](const std::string& p) {
             EXPECT_TRUE(S_ISLNK(Stat(p, false).st_mode));
             EXPECT_EQ(readAll(pipeEnds[0]), text);
         }},
        {"a FIFO is written through",
         [&](const std::string& p) { ::symlink(fifo.c_str(), p.c_str()); }, true,
         [&](const std::string&) {
             EXPECT_TRUE(S_ISFIFO(Stat(fifo, false).st_mode));
             EXPECT_EQ(readAll(fifoReader), text);
         }},
        {"a folder is refused", [](const std::string& p) { ::mkdir(p.c_str(), 0700); }, false,
         [](const std::string& p) { EXPECT_TRUE(S_ISDIR(Stat(p).st_mode)); }},
        {"a link to nothing is refused",
         [&](const std::string& p) { ::symlink(dir.File("nowhere").c_str(), p.c_str()); }, false,
         [&](const std::string&) { EXPECT_FALSE(Exists(dir.File("nowhere"))); }},
    };
    const mode_t mask = ::umask(027);
    int number = 0;
    for (const Case& c : cases) {
        const std::string path = dir.File("export" + std::to_string(++number) + ".ini");
        if (c.make) {
            c.make(path);
        }
        std::string error;
        EXPECT_EQ(kv::kvctl::WriteUserFile(path, text, error), c.written)
            << c.name << ": " << error;
        EXPECT_EQ(error.empty(), c.written) << c.name;
        c.check(path);
    }
    ::umask(mask);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    ::close(fifoReader);
}

// Root can keep a file's owner in the new file; as another user the file is rewritten in place.
TEST(KvctlUserFile, AnotherUsersFileKeepsItsOwner) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a file to another user";
    }
    TempDir dir;
    const std::string path = dir.File("theirs.ini");
    kv::test::WriteFile(path, "old");
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    std::string error;
    ASSERT_TRUE(kv::kvctl::WriteUserFile(path, "new\n", error)) << error;
    EXPECT_EQ(Stat(path).st_uid, 65534u);
    EXPECT_EQ(Stat(path).st_gid, 65534u);
    EXPECT_EQ(kv::test::ReadFile(path), "new\n");
}

TEST(KvctlMetricsFile, ReplacesALinkWithoutTouchingItsTargetAndSweepsOldTemporaries) {
    TempDir dir;
    const std::string victim = dir.File("victim");
    kv::test::WriteFile(victim, "keep");
    ASSERT_EQ(::symlink(victim.c_str(), dir.File(kv::kvctl::kMetricsFile).c_str()), 0);
    // One left by a run killed an hour ago, one of a run writing now.
    const std::string killed = dir.File(".kelvarin.prom.aB3xYz");
    const std::string running = dir.File(".kelvarin.prom.Qw9rTy");
    kv::test::WriteFile(killed, "half");
    kv::test::WriteFile(running, "half");
    const timespec hourAgo{std::time(nullptr) - 3600, 0};
    const timespec times[2] = {hourAgo, hourAgo};
    ASSERT_EQ(::utimensat(AT_FDCWD, killed.c_str(), times, 0), 0);

    std::string error;
    ASSERT_TRUE(kv::kvctl::WriteFileAtomically(dir.Path(), kv::kvctl::kMetricsFile,
                                               "kelvarin_driver_up 1\n", error))
        << error;
    EXPECT_EQ(kv::test::ReadFile(victim), "keep");
    const struct stat file = Stat(dir.File(kv::kvctl::kMetricsFile), false);
    EXPECT_TRUE(S_ISREG(file.st_mode));
    EXPECT_EQ(file.st_mode & 07777, 0644u);
    EXPECT_FALSE(Exists(killed));
    EXPECT_TRUE(Exists(running));
}

}  // namespace
