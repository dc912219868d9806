// The rule for where the settings files live; the facts come from file_locations_posix.cpp.
#include "common/file_locations.h"

namespace kv {

namespace {

bool Absolute(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

}  // namespace

std::string SettingsFolderFor(const FileLocationFacts& facts) {
    if (facts.programFolderWritable) {
        return facts.programFolder;
    }
    // A relative $XDG_CONFIG_HOME is invalid and ignored, as the base directory rules ask.
    std::string base;
    if (Absolute(facts.xdgConfigHome)) {
        base = WithoutTrailingSlashes(facts.xdgConfigHome);
    } else if (Absolute(facts.home)) {
        base = WithoutTrailingSlashes(facts.home);
        base += base == "/" ? ".config" : "/.config";
    } else {
        return facts.programFolder;
    }
    if (base.back() != '/') {
        base += '/';
    }
    return base + kConfigSubfolder;
}

std::string RuntimeFolderFor(const std::string& xdgRuntimeDir, unsigned uid) {
    if (!xdgRuntimeDir.empty()) {
        return xdgRuntimeDir;
    }
    return std::string("/tmp/") + kConfigSubfolder + "-" + std::to_string(uid);
}

std::string SettingsRuleText(const std::string& fileName, const std::string& indent) {
    return fileName + " is beside the program when its folder is yours alone, else in\n" + indent +
           "$XDG_CONFIG_HOME/" + kConfigSubfolder + " (by default ~/.config/" + kConfigSubfolder +
           ").";
}

}  // namespace kv
