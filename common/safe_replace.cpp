#include "common/safe_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/posix_file.h"

namespace kv {

namespace {

bool IsTemplate(const std::string& name) {
    constexpr std::string_view kTemplate = "XXXXXX";
    return name.size() >= kTemplate.size() &&
           std::string_view(name).substr(name.size() - kTemplate.size()) == kTemplate;
}

// A new file that is surely ours. One of the same name an earlier process left (a process id
// in the name comes round again) is removed first; anything else in the way is an error.
int CreateTemporary(std::string& temporary) {
    if (IsTemplate(temporary)) {
        return ::mkostemp(temporary.data(), O_CLOEXEC);
    }
    constexpr int kCreate = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(temporary.c_str(), kCreate, 0666);
    struct stat left {};
    if (fd < 0 && errno == EEXIST && ::lstat(temporary.c_str(), &left) == 0 &&
        S_ISREG(left.st_mode) && ::unlink(temporary.c_str()) == 0) {
        fd = ::open(temporary.c_str(), kCreate, 0666);
    }
    return fd;
}

// Gives the new file its owner and mode; false, with errno, where a required one fails. The
// owner goes first: a change of owner clears the set-id bits the mode then sets.
bool SetLooks(int fd, const std::string& target, const ReplaceOptions& options) {
    if (options.mode) {
        return (!options.owner || ::fchown(fd, options.owner->first, options.owner->second) == 0) &&
               ::fchmod(fd, *options.mode) == 0;
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        [[maybe_unused]] const int ownerKept = ::fchown(fd, old.st_uid, old.st_gid);
        [[maybe_unused]] const int modeKept = ::fchmod(fd, old.st_mode & 07777);
    }
    return true;
}

}  // namespace

ReplaceResult ReplaceFileSafely(const std::string& target, std::string_view text,
                                const ReplaceOptions& options) {
    ReplaceResult result;
    std::string temporary = options.temporary;
    const int fd = CreateTemporary(temporary);
    if (fd < 0) {
        result.noTemporary = true;
        result.error = errno;
        result.what = "cannot create " + temporary + ": " + std::strerror(result.error);
        return result;
    }
    auto fail = [&](const std::string& what, int reason) {
        ::unlink(temporary.c_str());
        result.error = reason;
        result.what = what + ": " + std::strerror(reason);
        return result;
    };
    if (!SetLooks(fd, target, options) || !WriteAll(fd, text) || ::fsync(fd) != 0) {
        const int reason = errno;
        ::close(fd);
        return fail("cannot write " + temporary, reason);
    }
    if (::close(fd) != 0) {
        return fail("cannot close " + temporary, errno);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        return fail("cannot rename " + temporary + " to " + target, errno);
    }
    if (options.syncFolder) {
        // The new file is complete either way; this only makes the rename durable.
        const int folder = ::open(FolderOfFile(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            (void)::fsync(folder);
            ::close(folder);
        }
    }
    result.ok = true;
    return result;
}

}  // namespace kv
