// Where a desktop-started Velmor keeps its files. Started from a menu, the working folder is the
// home folder or "/", so "last.vlm", presets and grabs would scatter there; --in-config-home runs
// Velmor in $XDG_CONFIG_HOME/velmor/ (~/.config/velmor/) instead, as if started from that folder.
#pragma once

#include <string>

namespace velmor {

inline constexpr const char* kInConfigHomeOption = "--in-config-home";

// $XDG_CONFIG_HOME/velmor when XDG_CONFIG_HOME is an absolute path (a relative one is ignored, as
// the XDG base directory rules ask), else <home>/.config/velmor, home being $HOME or the user's
// password entry. Empty when no home folder can be found.
std::string ConfigHomeFolder();

// Creates ConfigHomeFolder() with its missing parents (mode 0700) and makes it the working
// folder. On failure returns false and says why in `error`; the working folder is then unchanged.
bool EnterConfigHome(std::string& folder, std::string& error);

}  // namespace velmor
