#include "tests/support/StateHome.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace kkm::test {

namespace {

namespace fs = std::filesystem;

// The variable the tool takes its per-user state folder from on this platform.
#ifdef _WIN32
constexpr const char* kStateVariable = "LOCALAPPDATA";
constexpr const char* kConfigVariable = "APPDATA";
void SetVariable(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }
#else
constexpr const char* kStateVariable = "XDG_STATE_HOME";
constexpr const char* kConfigVariable = "XDG_CONFIG_HOME";
void SetVariable(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
#endif

class TemporaryStateHome {
 public:
  // A new folder of its own under the system's temporary folder (a name
  // already taken is skipped), named in the variable before anything runs.
  TemporaryStateHome() {
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const fs::path candidate = fs::temp_directory_path() / ("kkm-state-" + std::to_string(random()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) path_ = candidate.string();
    }
    if (path_.empty()) throw std::runtime_error("no temporary state folder");
    SetVariable(kStateVariable, path_);
    SetVariable(kConfigVariable, (fs::path(path_) / "config").string());
  }

  ~TemporaryStateHome() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TemporaryStateHome& Home() {
  static TemporaryStateHome home;
  return home;
}

}  // namespace

const std::string& StateHome() { return Home().path(); }

void ClearStateHome() {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(StateHome(), ignored))
    fs::remove_all(entry.path(), ignored);
}

void PointStateHomeAt(const std::string& path) {
  Home();  // made first, so that making it later cannot undo this
  SetVariable(kStateVariable, path);
}

std::string LatinWordsLeft(std::string text, const std::vector<std::string>& allowed) {
  for (const std::string& part : allowed)
    for (std::size_t at = text.find(part); !part.empty() && at != std::string::npos; at = text.find(part))
      text.erase(at, part.size());
  std::string left;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool latin = (text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z');
    if (latin && (i + 1 < text.size()) && std::isalpha(static_cast<unsigned char>(text[i + 1]))) {
      std::size_t end = i;
      while (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end]))) ++end;
      left += text.substr(i, end - i) + ' ';
      i = end;
    }
  }
  return left;
}

}  // namespace kkm::test
