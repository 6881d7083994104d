// The state folder of a test binary (StateHome.h): created before main(), so
// even code that runs before the first test sees it, and emptied before every
// test, so that no record left by an earlier test can change what a later one
// sees.

#include <gtest/gtest.h>

#include "tests/support/StateHome.h"

namespace kkm::test {
namespace {

class ClearBeforeEachTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override { ClearStateHome(); }
};

[[maybe_unused]] const bool kSetEarly =
    (StateHome(), ::testing::UnitTest::GetInstance()->listeners().Append(new ClearBeforeEachTest), true);

}  // namespace
}  // namespace kkm::test
