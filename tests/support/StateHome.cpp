#include "tests/support/StateHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace kkm::test {

namespace {

namespace fs = std::filesystem;

class TemporaryStateHome {
 public:
  TemporaryStateHome() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kkm-state-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("no temporary state folder");
    path_ = name.data();
    ::setenv("XDG_STATE_HOME", path_.c_str(), 1);
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

// Every test starts with an empty folder: no record left by an earlier test
// can change what a later one sees.
class ClearBeforeEachTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { ClearStateHome(); }
};

// Set before main(), so even code that runs before the first test sees it.
[[maybe_unused]] const bool kSetEarly =
    (Home(), ::testing::UnitTest::GetInstance()->listeners().Append(new ClearBeforeEachTest), true);

}  // namespace

const std::string& StateHome() { return Home().path(); }

void ClearStateHome() {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(StateHome(), ignored))
    fs::remove_all(entry.path(), ignored);
}

}  // namespace kkm::test
