#include "files/Folders.h"

#include <cstdlib>
#include <filesystem>

namespace kkm::files {

namespace {

std::string Getenv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string ProgramFolder(UserFolder kind) {
  namespace fs = std::filesystem;
#ifdef _WIN32
  const std::string base = Getenv(kind == UserFolder::Config ? "APPDATA" : "LOCALAPPDATA");
  if (base.empty()) return {};
  return (fs::path(base) / "kkm-netnum").string();
#else
  const std::string xdg = Getenv(kind == UserFolder::Config ? "XDG_CONFIG_HOME" : "XDG_STATE_HOME");
  if (!xdg.empty() && xdg.front() == '/') return (fs::path(xdg) / "kkm-netnum").string();
  const std::string home = Getenv("HOME");
  if (home.empty()) return {};
  const fs::path base =
      kind == UserFolder::Config ? fs::path(home) / ".config" : fs::path(home) / ".local" / "state";
  return (base / "kkm-netnum").string();
#endif
}

}  // namespace kkm::files
