// Where the program keeps its data and finds the files that ship beside it.
#pragma once

#include <string>

namespace keltra {

// $XDG_DATA_HOME, else ~/.local/share (no trailing "/").
std::string ApplicationDataFolder();

// The user's own settings folder for this program: $XDG_CONFIG_HOME, else ~/.config, followed
// by "/keltra-photo-recovery" (not created here).
std::string UserConfigFolder();

// The folder of the running executable.
std::string ExecutableFolder();

// A file shipped with the program: next to the executable first, then in the install's
// share/keltra-photo-recovery/. Returns the first that exists, else the one next to the
// executable.
std::string FileBesideProgram(const std::string& relativePath);

}  // namespace keltra
