// The commissioning loop on the virtual line: a row of fresh registers acted
// out as kkm-sim acts it (FreshRow), every wait on the line's virtual clock.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "service/Commission.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/support/StateHome.h"
#include "tools/kkm-sim/FreshRow.h"

namespace kkm::service {
namespace {

TEST(NumberList, NumbersAndRangesInOrderEachOnce) {
  const struct {
    const char* text;
    std::optional<std::vector<int>> numbers;
  } rows[] = {
      {"2-5,15", std::vector<int>{2, 3, 4, 5, 15}},
      {"9,07,8-8", std::vector<int>{9, 7, 8}},
      {"1-2,98-99", std::vector<int>{1, 2, 98, 99}},
      {"5-3", std::nullopt},
      {"0-2", std::nullopt},
      {"98-100", std::nullopt},
      {"2,3-4,4", std::nullopt},
      {"", std::nullopt},
      {"2,,3", std::nullopt},
      {"2-", std::nullopt},
      {" 2", std::nullopt},
      {"2-3-4", std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ParseNumberList(row.text), row.numbers) << row.text;
  }
}

// Three fresh registers at 01 come one after another, the first two together
// for 2 s; a register at 03 is on the line from the start.
class CommissionLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_.addPort("COM1", line_);
    for (sim::CashRegister& fresh : fresh_) line_.attach(row_.add(fresh, fresh));
    line_.attach(taken_);
    callbacks_.waiting = [this](WaitReason reason) { reasons_.push_back(reason); };
    callbacks_.done = [this](const CommissionedRegister& done, int) { done_.push_back(done); };
    callbacks_.stopRequested = [this] { return stop_; };
  }

  std::vector<int> doneNumbers() const {
    std::vector<int> numbers;
    for (const CommissionedRegister& done : done_) numbers.push_back(done.number);
    return numbers;
  }

  sim::VirtualLine line_;
  sim::VirtualPlatform platform_{line_};
  sim::tool::FreshRow row_{{300 * sim::kNsPerMs, false, 2000 * sim::kNsPerMs}};
  sim::CashRegister fresh_[3] = {sim::CashRegister(1), sim::CashRegister(1), sim::CashRegister(1)};
  sim::CashRegister taken_{3};
  CommissionPlan plan_{"COM1", Link::Processor, 1, {2, 3, 4, 5}, "2-5"};
  CommissionCallbacks callbacks_;
  std::vector<WaitReason> reasons_;
  std::vector<CommissionedRegister> done_;
  bool stop_ = false;
};

// A stop asked for in the middle of a write lets the write end, then ends the
// row; the next run carries on from the history.
TEST_F(CommissionLoop, AStopDuringAWriteEndsTheRowAfterItAndTheNextRunCarriesOn) {
  CommissionResult first;
  {  // a session holds the port's device until it ends
    Session session(platform_, "kkm-netnum");
    session.progress = [this](int step, int total) {
      stop_ = stop_ || (total == kWriteExchanges && step == 3);
    };
    first = Commission(session, plan_, callbacks_);
  }
  EXPECT_EQ(first.end, CommissionEnd::Stopped);
  ASSERT_EQ(reasons_.size(), 1u);
  EXPECT_EQ(reasons_[0], WaitReason::Several) << "nothing is written while two answer at 01";
  ASSERT_EQ(doneNumbers(), (std::vector<int>{2}));
  EXPECT_TRUE(done_[0].verified);
  EXPECT_EQ(fresh_[0].lineAddress(), 0xFD);
  EXPECT_TRUE(fresh_[0].nonVolatileChecksumHolds());

  Session again(platform_, "kkm-netnum");
  stop_ = false;
  done_.clear();
  const CommissionResult rest = Commission(again, plan_, callbacks_);
  EXPECT_EQ(rest.end, CommissionEnd::ListUsedUp) << serial::DescribeFailure(rest.connect.failure);
  ASSERT_EQ(doneNumbers(), (std::vector<int>{4, 5}));
  EXPECT_EQ(rest.skipped, (std::vector<int>{3}));
  EXPECT_EQ(done_.back().sequence, 3);
  EXPECT_EQ(fresh_[1].lineAddress(), 0xFB);
  EXPECT_EQ(fresh_[2].lineAddress(), 0xFA);
  EXPECT_EQ(taken_.lineAddress(), 0xFC);
  EXPECT_EQ(NumbersUsedByRow(plan_, again.deviceKey), (std::vector<int>{2, 4, 5}));
  EXPECT_TRUE(NumbersUsedByRow({"COM1", Link::Processor, 1, {2, 3, 4, 5}, "2-4,5"}, again.deviceKey).empty())
      << "another list is another row";
}

}  // namespace
}  // namespace kkm::service
