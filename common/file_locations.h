// Where the programs keep their settings files (DRIVER.INI, CONTROLLER.INI): beside the
// executable when its folder is writable (a portable install, a build tree), otherwise in the
// user's configuration folder. Both programs follow the one rule, so the Controller finds the
// Driver's file where the Driver beside it keeps it.
#pragma once

#include <string>

namespace kv {

// The folder under $XDG_CONFIG_HOME (or ~/.config) for an install the user cannot write.
inline constexpr const char* kConfigSubfolder = "kelvarin-vyren";

// What the rule looks at, gathered from the running process (or given by a test).
struct FileLocationFacts {
    std::string programFolder;  // the executable's folder
    // The user may create files there, owns it, and nobody else may write to it (a shared
    // folder would let another user put settings in front of the program).
    bool programFolderWritable = false;
    std::string xdgConfigHome;  // $XDG_CONFIG_HOME; empty when unset
    std::string home;           // $HOME; empty when unset
};

// The folder for the settings files, without a trailing '/': the program folder when it is
// writable; else $XDG_CONFIG_HOME/kelvarin-vyren when that is an absolute path, else
// $HOME/.config/kelvarin-vyren; with no absolute HOME either, the program folder (a write
// there then fails and is reported as any failed write is).
std::string SettingsFolderFor(const FileLocationFacts& facts);

// The rule in a sentence of two lines for --help texts, naming the file; the second line
// starts with indent.
std::string SettingsRuleText(const std::string& fileName, const std::string& indent);

// The folder of the running executable, without a trailing '/'; "." when it cannot be found.
std::string ExecutableFolder();

// The facts for a program in programFolder, from this process's environment.
FileLocationFacts FileLocationFactsFor(const std::string& programFolder);

// SettingsFolderFor the facts of this process for a program in programFolder.
std::string SettingsFolder(const std::string& programFolder);

// Creates folder, with its missing parents, mode 0700, if it does not exist yet. Returns false
// and says why in error when it cannot.
bool MakeSettingsFolder(const std::string& folder, std::string* error);

// Where the programs keep their single-instance locks: $XDG_RUNTIME_DIR, or without one a
// folder of the user's own in /tmp, "/tmp/kelvarin-vyren-UID", so that no file of another user
// in the shared /tmp can stand in for ours.
std::string RuntimeFolderFor(const std::string& xdgRuntimeDir, unsigned uid);
// RuntimeFolderFor this process. The /tmp folder is created (mode 0700) when missing, and used
// only when it is a real folder (not a link) that this user owns and nobody else may enter;
// otherwise empty, with the reason in error.
std::string RuntimeFolder(std::string* error);
// Creates folder (mode 0700) when missing; true when it is then a real folder owned by uid that
// nobody else may enter, else false with the reason in error.
bool MakePrivateFolder(const std::string& folder, unsigned uid, std::string* error);

}  // namespace kv
