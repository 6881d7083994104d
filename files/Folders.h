#pragma once
// The current user's folders for this program's files, found by one rule:
//   configuration: $XDG_CONFIG_HOME/kkm-netnum, else ~/.config/kkm-netnum
//                  (%APPDATA%\kkm-netnum on Windows);
//   state:         $XDG_STATE_HOME/kkm-netnum, else ~/.local/state/kkm-netnum
//                  (%LOCALAPPDATA%\kkm-netnum on Windows).
// A relative XDG_* value is ignored, as the base directory rules ask. Empty
// when the environment names no folder at all.

#include <string>

namespace kkm::files {

enum class UserFolder { Config, State };

std::string ProgramFolder(UserFolder kind);

}  // namespace kkm::files
