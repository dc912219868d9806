// The temporary file, fsync and rename; the checks that decide between replacing a file,
// writing through to what is there, and refusing.
#include "tools/kvctl/text_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>

#include "common/posix_file.h"
#include "common/safe_replace.h"

namespace kv::kvctl {

namespace {

// Links followed before a path counts as a loop.
constexpr int kMaxLinks = 40;

std::string Why(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// Writes text to a new temporary file in folder, with mode (and owner, when set), and renames
// it over target. False, with errno, when a step fails; the temporary file is gone then.
bool ReplaceInOneStep(const std::string& folder, const std::string& name, const std::string& target,
                      std::string_view text, mode_t mode,
                      std::optional<std::pair<uid_t, gid_t>> owner = std::nullopt) {
    ReplaceOptions options;
    // A dot name without the file's own ending: a textfile collector reads only *.prom.
    options.temporary = folder + "/." + name + ".XXXXXX";
    // mkstemp makes it 0600, whatever the umask says.
    options.mode = mode;
    options.owner = owner;
    const ReplaceResult replaced = ReplaceFileSafely(target, text, options);
    errno = replaced.error;
    return replaced.ok;
}

// Opens what is at path (never creating it) and writes text over it.
bool WriteThrough(const std::string& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, text);
    int saved = ok ? 0 : errno;
    // Only a regular file is flushed to disk; a terminal or a pipe has no such thing.
    struct stat info {};
    if (ok && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::fsync(fd) != 0) {
        ok = false;
        saved = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    errno = saved;
    return ok;
}

// Removes the temporary files of runs killed between mkstemp and rename: "." name "." and six
// characters, regular, older than kLeftoverAgeSeconds. Nothing here is an error.
void SweepLeftovers(const std::string& folder, const std::string& name) {
    const std::string prefix = "." + name + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    const time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view file = entry->d_name;
        if (file.size() != prefix.size() + 6 || file.substr(0, prefix.size()) != prefix) {
            continue;
        }
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && now - info.st_mtime > kLeftoverAgeSeconds) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where path leads once its links are followed: the final path (its folder resolved), and
// whether the way passes a process's descriptor (/proc/PID/fd/N).
struct Resolved {
    std::string path;
    bool descriptor = false;
    int links = 0;      // links followed on the way
    std::string error;  // set: the way cannot be followed
};

Resolved Resolve(const std::string& path) {
    Resolved resolved;
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        char folder[PATH_MAX];
        if (::realpath(FolderOfFile(current).c_str(), folder) == nullptr) {
            resolved.error = Why("cannot reach the folder of " + current, errno);
            return resolved;
        }
        const std::string name = NameOf(current);
        if (name.empty() || name == "." || name == "..") {
            resolved.error = path + " names a folder, not a file";
            return resolved;
        }
        current = std::string(folder) + (folder[1] == '\0' ? "" : "/") + name;
        if (current.rfind("/proc/", 0) == 0) {
            resolved.descriptor = true;
            resolved.path = current;
            return resolved;
        }
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            resolved.path = current;
            return resolved;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target - 1);
        if (length < 0) {
            resolved.error = Why("cannot read the link " + current, errno);
            return resolved;
        }
        const std::string to(target, static_cast<size_t>(length));
        ++resolved.links;
        current = to.front() == '/' ? to : FolderOfFile(current) + "/" + to;
    }
    resolved.error = path + ": too many links";
    return resolved;
}

}  // namespace

bool WriteFileAtomically(const std::string& folder, const std::string& name, std::string_view text,
                         std::string& error) {
    const std::string target = folder + "/" + name;
    SweepLeftovers(folder, name);
    if (!ReplaceInOneStep(folder, name, target, text, 0644)) {
        error = Why("cannot write " + target, errno);
        return false;
    }
    return true;
}

bool WriteUserFile(const std::string& path, std::string_view text, std::string& error) {
    const Resolved resolved = Resolve(path);
    if (!resolved.error.empty()) {
        error = resolved.error;
        return false;
    }
    struct stat info {};
    const bool exists = ::stat(resolved.path.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) {
        error = Why("cannot write " + path, errno);
        return false;
    }
    if (resolved.descriptor || (exists && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)))) {
        if (!WriteThrough(path, text)) {
            error = Why("cannot write " + path, errno);
            return false;
        }
        return true;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        error = path + " is " +
                (S_ISDIR(info.st_mode) ? "a folder" : "neither a file nor a character device") +
                "; nothing was written";
        return false;
    }
    if (!exists) {
        // Made through a link, the file would land where the link's maker chose.
        if (resolved.links > 0) {
            error = path + " is a link to nothing (" + resolved.path + "); nothing was written";
            return false;
        }
        const mode_t mask = ::umask(0);
        ::umask(mask);
        if (!ReplaceInOneStep(FolderOfFile(resolved.path), NameOf(resolved.path), resolved.path,
                              text, 0666 & ~mask)) {
            error = Why("cannot write " + path, errno);
            return false;
        }
        return true;
    }
    // The owner and group are given only where they are not what the new file gets anyway.
    std::optional<std::pair<uid_t, gid_t>> owner;
    if (info.st_uid != ::geteuid() || info.st_gid != ::getegid()) {
        owner.emplace(info.st_uid, info.st_gid);
    }
    // A second name for the file would keep the old text; a rename would part them.
    if (info.st_nlink == 1 && ReplaceInOneStep(FolderOfFile(resolved.path), NameOf(resolved.path),
                                               resolved.path, text, info.st_mode & 07777, owner)) {
        return true;
    }
    if (!WriteThrough(resolved.path, text)) {
        error = Why("cannot write " + path, errno);
        return false;
    }
    return true;
}

}  // namespace kv::kvctl
