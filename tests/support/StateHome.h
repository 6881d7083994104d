#pragma once
// Every test binary that links this gets its own empty per-user state folder:
// before main() runs, XDG_STATE_HOME (LOCALAPPDATA on Windows) points at a fresh temporary folder that
// goes when the binary ends, and it is emptied before every test. So no test
// touches the operator's real state folder or sees another test's records,
// and programs the tests start inherit the same folder. The per-user
// configuration folder (XDG_CONFIG_HOME, APPDATA on Windows) is its
// subfolder "config", so no test reads the operator's own port map either.

#include <string>
#include <vector>

namespace kkm::test {

// The folder XDG_STATE_HOME names.
const std::string& StateHome();
// Empties it: no record of any earlier test stays.
void ClearStateHome();
// Points the variable at `path` instead (for a test of a folder that cannot
// be used); PointStateHomeAt(StateHome()) puts it back.
void PointStateHomeAt(const std::string& path);

// The Latin words of a text for the operator once every `allowed` part (a
// path, a program's name, the system's error text) is taken out; empty for a
// text in Russian.
std::string LatinWordsLeft(std::string text, const std::vector<std::string>& allowed);

}  // namespace kkm::test
