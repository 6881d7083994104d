#pragma once
// A per-user state folder of the process's own: the first call to any of
// these functions creates a fresh temporary folder, points XDG_STATE_HOME
// (LOCALAPPDATA on Windows) at it, and it goes when the process ends. So
// nothing run under it touches the operator's real state folder, and the
// programs it starts inherit the same folder. The per-user configuration
// folder (XDG_CONFIG_HOME, APPDATA on Windows) is its subfolder "config", so
// nothing reads the operator's own port map either.
//
// Test binaries link kkm_test_state_home, which creates it before main() and
// empties it before every test (StateHomeListener.cpp); a program without
// GoogleTest calls StateHome() before it runs anything that keeps state.

#include <string>
#include <vector>

namespace kkm::test {

// The folder XDG_STATE_HOME names.
const std::string& StateHome();
// Empties it: no record of any earlier run stays.
void ClearStateHome();
// Points the variable at `path` instead (for a test of a folder that cannot
// be used); PointStateHomeAt(StateHome()) puts it back.
void PointStateHomeAt(const std::string& path);

// The Latin words of a text for the operator once every `allowed` part (a
// path, a program's name, the system's error text) is taken out; empty for a
// text in Russian.
std::string LatinWordsLeft(std::string text, const std::vector<std::string>& allowed);

}  // namespace kkm::test
