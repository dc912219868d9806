// The facts the settings folder rule looks at, read from the running process, and the
// creation of the folder.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/file_locations.h"

namespace kv {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string ExecutableFolder() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return ".";
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    const size_t slash = buffer.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : buffer.substr(0, slash);
}

FileLocationFacts FileLocationFactsFor(const std::string& programFolder) {
    FileLocationFacts facts;
    facts.programFolder = programFolder;
    struct stat info {};
    facts.programFolderWritable = ::access(programFolder.c_str(), W_OK) == 0 &&
                                  ::stat(programFolder.c_str(), &info) == 0 &&
                                  info.st_uid == ::geteuid() && (info.st_mode & 022) == 0;
    facts.xdgConfigHome = Environment("XDG_CONFIG_HOME");
    facts.home = Environment("HOME");
    return facts;
}

std::string SettingsFolder(const std::string& programFolder) {
    return SettingsFolderFor(FileLocationFactsFor(programFolder));
}

bool MakeSettingsFolder(const std::string& folder, std::string* error) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        return true;
    }
    // Each missing level in turn, from the top down.
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string level = folder.substr(0, end);
        if (!level.empty() && ::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            if (error != nullptr) {
                *error = "cannot create " + level + ": " + std::strerror(errno);
            }
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
    }
}

bool MakePrivateFolder(const std::string& folder, unsigned uid, std::string* error) {
    const auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = "cannot use " + folder + ": " + why;
        }
        return false;
    };
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return fail(std::strerror(errno));
    }
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        return fail(std::strerror(errno));
    }
    if (!S_ISDIR(info.st_mode)) {
        return fail("it is not a folder");
    }
    if (info.st_uid != uid) {
        return fail("it belongs to uid " + std::to_string(info.st_uid));
    }
    if ((info.st_mode & 077) != 0) {
        return fail("other users may enter it");
    }
    return true;
}

std::string RuntimeFolder(std::string* error) {
    const std::string runtime = Environment("XDG_RUNTIME_DIR");
    const std::string folder = RuntimeFolderFor(runtime, ::geteuid());
    if (!runtime.empty() || MakePrivateFolder(folder, ::geteuid(), error)) {
        return folder;
    }
    return {};
}

}  // namespace kv
