// Start at login through XDG autostart: one desktop entry per program in the user's autostart
// folder, named after the start-up value it stands for ("Kelvarin_Driver",
// "Kelvarin_Controller").
#pragma once

#include <string>

namespace kv::controller {

// $XDG_CONFIG_HOME/autostart when that is set to an absolute path, else
// $HOME/.config/autostart. Empty when neither is known.
std::string AutostartFolder();

// The Exec= value that runs programPath with no arguments: quoted when the path holds blanks or
// reserved characters, with the escapes desktop entries require.
std::string DesktopExecValue(const std::string& programPath);

// Writes <folder>/<name>.desktop starting programPath at login (folder made when missing; the
// file replaced atomically). False when it cannot be written.
bool WriteAutostartEntry(const std::string& name, const std::string& programPath);
// Deletes the entry; true also when there was none.
bool RemoveAutostartEntry(const std::string& name);
bool HasAutostartEntry(const std::string& name);

}  // namespace kv::controller
