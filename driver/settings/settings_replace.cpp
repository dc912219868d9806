// Replacing DRIVER.INI safely against a crash, with the shared temporary-file-and-rename write;
// links followed only where that is safe; the file written in place where no temporary file can
// be made; the temporaries a killed save left, swept.
#include "driver/settings/settings_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "common/posix_file.h"
#include "common/safe_replace.h"

namespace kv {

namespace {

std::string Describe(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

// Whether a link may be followed for a write: it is ours, root's or its folder owner's. In a
// shared folder (/tmp) another user's link would otherwise aim our write at any file of ours.
bool MayFollow(const std::string& link, const struct stat& info) {
    struct stat folder {};
    return info.st_uid == ::geteuid() || info.st_uid == 0 ||
           (::stat(FolderOfFile(link).c_str(), &folder) == 0 && folder.st_uid == info.st_uid);
}

// The file a write through path reaches: symbolic links followed, a relative target taken
// from the link's folder. The file itself need not exist (a dangling link names the file a
// write would create). Replacing the link instead would cut it off from its target.
bool ResolveLinks(const std::string& path, std::string* target) {
    constexpr int kMaxLinks = 40;  // as the kernel allows in one path
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            *target = current;
            return true;
        }
        if (!MayFollow(current, info)) {
            errno = EPERM;
            return false;
        }
        std::string link(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n < 0) {
            return false;
        }
        if (static_cast<size_t>(n) >= link.size()) {
            errno = ENAMETOOLONG;  // the link changed under us; give up rather than guess
            return false;
        }
        link.resize(static_cast<size_t>(n));
        if (link.empty() || link.front() == '/') {
            current = link;
        } else {
            const std::string folder = FolderOfFile(current);
            current = (folder == "/" ? folder : folder + "/") + link;
        }
    }
    errno = ELOOP;
    return false;
}

std::string TemporaryPrefix(const std::string& target) {
    const size_t slash = target.rfind('/');
    return (slash == std::string::npos ? target : target.substr(slash + 1)) + ".tmp";
}

// The process id a temporary file of ours is named after; 0 for any other name.
pid_t TemporaryOwner(std::string_view name, std::string_view prefix) {
    if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size()) {
        return 0;
    }
    name.remove_prefix(prefix.size());
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    return error == std::errc() && end == name.data() + name.size() && pid > 0 ? pid : 0;
}

// Where the temporary file fails for want of a resource, truncating the file and writing it
// again would most likely fail half-way and lose the settings; only a folder we may not write
// to (or something in the temporary file's way) justifies writing in place.
bool MayWriteInPlace(int error) {
    return error != ENOSPC && error != EDQUOT && error != ENOMEM && error != EMFILE &&
           error != ENFILE && error != ENOENT;
}

SettingsWriteResult WriteInPlace(const std::string& target, std::string_view text,
                                 const std::string& whyInPlace) {
    SettingsWriteResult result;
    // Without blocking and without cutting anything before it is known to be a regular file.
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        result.detail = whyInPlace + "; " + Describe("cannot open", target, errno);
        return result;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        result.detail = whyInPlace + "; " + target + " is not a regular file";
        return result;
    }
    result.inPlace = true;
    const bool written = OverwriteAll(fd, text);
    const int reason = errno;
    if (::close(fd) != 0 || !written) {
        result.detail =
            whyInPlace + "; " + Describe("cannot write", target, written ? errno : reason);
        return result;
    }
    result.ok = true;
    result.detail = whyInPlace;
    return result;
}

}  // namespace

int SweepStaleSettingsTemporaries(const std::string& target) {
    DIR* folder = ::opendir(FolderOfFile(target).c_str());
    if (folder == nullptr) {
        return 0;
    }
    const std::string prefix = TemporaryPrefix(target);
    const std::string base = FolderOfFile(target) == "/" ? "/" : FolderOfFile(target) + "/";
    int removed = 0;
    while (const dirent* entry = ::readdir(folder)) {
        const pid_t owner = TemporaryOwner(entry->d_name, prefix);
        // Our own is being written (or is in the way, for the in-place write to report), and
        // a running owner may be saving right now; only a vanished owner's file is stale.
        if (owner == 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) {
            continue;
        }
        const std::string stale = base + entry->d_name;
        struct stat info {};
        if (::lstat(stale.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::unlink(stale.c_str()) == 0) {
            ++removed;
        }
    }
    ::closedir(folder);
    return removed;
}

SettingsWriteResult WriteSettingsText(const std::string& path, std::string_view text) {
    SettingsWriteResult result;
    std::string target;
    if (!ResolveLinks(path, &target)) {
        result.detail = errno == EPERM ? path + " is another user's link; it is not followed"
                                       : Describe("cannot follow the link", path, errno);
        return result;
    }
    // A folder, a FIFO or a device in the file's place is never replaced nor written to.
    struct stat present {};
    if (::stat(target.c_str(), &present) == 0 && !S_ISREG(present.st_mode)) {
        result.detail = target + (S_ISDIR(present.st_mode) ? " is a folder, not a file"
                                                           : " is not a regular file");
        return result;
    }
    // A driver killed half-way through a save leaves its temporary file behind; without this
    // they would pile up beside the settings, one per crash, for the life of the installation.
    SweepStaleSettingsTemporaries(target);
    // Named after our process id, for the sweep above to tell whose it is.
    ReplaceOptions options;
    options.temporary = target + ".tmp" + std::to_string(::getpid());
    options.syncFolder = true;
    const ReplaceResult replaced = ReplaceFileSafely(target, text, options);
    if (replaced.noTemporary && MayWriteInPlace(replaced.error)) {
        return WriteInPlace(target, text, replaced.what);
    }
    result.ok = replaced.ok;
    result.detail = replaced.what;
    return result;
}

}  // namespace kv
