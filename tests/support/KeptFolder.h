#pragma once
// A test fixture with a fresh folder of its own for the files a test makes
// (a simulator's trace and memory dump): removed when the test passes, kept
// and named on standard output when it fails, so the evidence survives.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace kkm::test {

class KeptFolderTest : public ::testing::Test {
 protected:
  // `prefix` starts the folder's name in the test's temporary folder.
  explicit KeptFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}

  void SetUp() override {
    std::string pattern = ::testing::TempDir() + prefix_ + "XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    if (HasFailure())
      std::printf("trace and dump kept in %s\n", folder_.c_str());
    else
      std::filesystem::remove_all(folder_);
  }
  std::string file(const char* name) const { return folder_ + "/" + name; }

  std::string folder_;

 private:
  std::string prefix_;
};

}  // namespace kkm::test
