// A write interrupted between its fourth and fifth exchanges, on the virtual
// line: the record it leaves, what a later connection finds, and finishing it
// so that the register holds what a complete write leaves. Also the record
// file itself: written whole or refused.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "service/NetworkNumber.h"
#include "service/Session.h"
#include "service/WriteRecord.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "tests/support/FaultTap.h"
#include "tests/support/RegisterPlaces.h"
#include "tests/support/StateHome.h"

namespace kkm::service {
namespace {

using sim::RegisterFault;

constexpr std::uint8_t kWriteByte = 0x05, kReadBlock = 0x16, kWriteBlock = 0x17;
constexpr int kNumber = 45;
constexpr std::uint8_t kB = 0xBA;

using test::Places;

class FinishTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_.addPort("COM1", line_);
    line_.attach(tap_);
    numberOld_ = register_.nonVolatile()[kEepromNumberAddress];
    checksumOld_ = register_.nonVolatile()[kEepromChecksumAddress];
  }

  Places places() const { return test::PlacesOf(register_); }
  // What a complete write of 45 leaves.
  Places complete() const { return {kB, kB, kB, static_cast<std::uint8_t>(checksumOld_ - numberOld_ + kB)}; }
  WriteRecord expectedRecord() const {
    return {"COM1", "COM1", Link::Processor, 0xFE, kB, numberOld_, checksumOld_, complete().checksum};
  }
  bool recordExists() const { return LoadRecord("COM1", Link::Processor).status == RecordStatus::Found; }

  // The commands the register executed since the log was cleared, as command and address.
  std::vector<std::pair<std::uint8_t, std::uint16_t>> executed() const {
    std::vector<std::pair<std::uint8_t, std::uint16_t>> commands;
    for (const sim::ExecutedCommand& c : register_.log()) commands.emplace_back(c.command, c.address);
    return commands;
  }

  sim::VirtualLine line_;
  sim::VirtualPlatform platform_{line_};
  sim::CashRegister register_{1};
  test::FaultTap tap_{register_};
  std::uint8_t numberOld_ = 0;
  std::uint8_t checksumOld_ = 0;
};

// The answers to one frame of the host's never arrive; the register executed it.
test::FaultTap::Strike AcknowledgementLost(std::uint32_t frame) {
  return {frame, false, {}, [](std::size_t, std::uint8_t) { return std::vector<std::uint8_t>{}; }};
}

// The register silent in the `occurrence`-th block write and every later
// exchange of the write (there is none after a failed one); 0: in every block
// write. Exchanges 4 and 5 are the write's first and second block writes.
sim::FaultRule SilentBlockWrites(std::uint32_t occurrence) {
  sim::FaultRule rule;
  rule.command = kWriteBlock;
  rule.occurrence = occurrence;
  rule.times = 0;
  return rule;
}

struct Interruption {
  const char* name;
  std::function<void(sim::CashRegister&, test::FaultTap&)> inject;  // after connecting
  int failedExchange;
  InterruptedWrite found;
  bool sendsExchange5;  // when finishing
};

void PrintTo(const Interruption& row, std::ostream* os) { *os << row.name; }

// After connecting, the write's frames are counted from 1: frame k is exchange k.
const Interruption kInterruptions[] = {
    {"register silent from exchange 4 on",
     [](sim::CashRegister& r, test::FaultTap&) { r.addFault(SilentBlockWrites(0)); }, 4,
     InterruptedWrite::Untouched, false},
    {"acknowledgement of exchange 4 lost",
     [](sim::CashRegister&, test::FaultTap& tap) { tap.arm(AcknowledgementLost(4)); }, 4,
     InterruptedWrite::Finishable, true},
    {"register silent from exchange 5 on",
     [](sim::CashRegister& r, test::FaultTap&) { r.addFault(SilentBlockWrites(2)); }, 5,
     InterruptedWrite::Finishable, true},
    {"acknowledgement of exchange 5 lost",
     [](sim::CashRegister&, test::FaultTap& tap) { tap.arm(AcknowledgementLost(5)); }, 5,
     InterruptedWrite::Finishable, false},
};

class InterruptedWriteRow : public FinishTest, public ::testing::WithParamInterface<Interruption> {};

TEST_P(InterruptedWriteRow, IsFinishedAtTheNextConnection) {
  const Interruption& row = GetParam();
  {
    {
      Session session(platform_);
      ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
      row.inject(register_, tap_);
      EXPECT_EQ(WriteNetworkNumber(session, Link::Processor, kNumber).failedExchange, row.failedExchange);
    }
    // The record was written before exchange 4, with what finishing needs.
    const LoadedRecord loaded = LoadRecord("COM1", Link::Processor);
    ASSERT_EQ(loaded.status, RecordStatus::Found);
    EXPECT_EQ(loaded.record, expectedRecord());

    // The register answers again; the next connection looks at the write.
    register_.clearFaults();
    tap_.arm({});
    Session session(platform_);
    ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
    register_.clearLog();
    const InterruptedCheck check = CheckInterruptedWrite(session, Link::Processor, loaded.record);
    ASSERT_TRUE(check.ok);
    EXPECT_EQ(check.state, row.found);
    using Command = std::pair<std::uint8_t, std::uint16_t>;
    EXPECT_EQ(executed(), (std::vector<Command>{{kReadBlock, kEepromChecksumAddress},
                                                {kReadBlock, kEepromNumberAddress}}));
    if (row.found == InterruptedWrite::Untouched) {
      EXPECT_FALSE(recordExists()) << "an untouched register needs no finishing";
      EXPECT_EQ(places(), (Places{kB, 0xFE, numberOld_, checksumOld_})) << "only exchange 1 took effect";
      return;
    }
    register_.clearLog();
    ASSERT_TRUE(FinishInterruptedWrite(session, Link::Processor, loaded.record, check).written());
    std::vector<Command> expected;
    if (row.sendsExchange5) expected.push_back({kWriteBlock, kEepromChecksumAddress});
    expected.push_back({kWriteByte, kNumberCopyAddress});
    EXPECT_EQ(executed(), expected);
    EXPECT_EQ(places(), complete());
    EXPECT_TRUE(register_.nonVolatileChecksumHolds());
    EXPECT_EQ(session.registerAddress, kB);
    EXPECT_FALSE(recordExists());
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, InterruptedWriteRow, ::testing::ValuesIn(kInterruptions),
                         [](const ::testing::TestParamInfo<Interruption>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c != '\0'; ++c)
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           return name;
                         });

// Which memory contents allow finishing: the decision over every pairing of
// the number cell and the checksum cell with the record's bytes.
TEST_F(FinishTest, TheMemoryDecidesWhetherTheWriteCanBeFinished) {
  const WriteRecord record = expectedRecord();
  const std::uint8_t other = 0x5A;
  struct Row {
    std::uint8_t number, checksum;
    InterruptedWrite found;
  };
  const Row rows[] = {
      {record.numberOld, record.checksumOld, InterruptedWrite::Untouched},
      {kB, record.checksumOld, InterruptedWrite::Finishable},
      {kB, record.checksumNew, InterruptedWrite::Finishable},
      {kB, other, InterruptedWrite::Changed},
      {record.numberOld, record.checksumNew, InterruptedWrite::Changed},
      {other, record.checksumOld, InterruptedWrite::Changed},
      {other, other, InterruptedWrite::Changed},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::hex << int(row.number) << "/" << int(row.checksum));
    std::string reason;
    ASSERT_TRUE(SaveRecord(record, reason)) << reason;
    register_.nonVolatile()[kEepromNumberAddress] = row.number;
    register_.nonVolatile()[kEepromChecksumAddress] = row.checksum;
    Session session(platform_);
    ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
    EXPECT_EQ(CheckInterruptedWrite(session, Link::Processor, record).state, row.found);
    EXPECT_EQ(recordExists(), row.found != InterruptedWrite::Untouched);
  }
}

TEST_F(FinishTest, AFinishThatFailsKeepsTheRecord) {
  std::string reason;
  WriteRecord record = expectedRecord();
  ASSERT_TRUE(SaveRecord(record, reason)) << reason;
  register_.nonVolatile()[kEepromNumberAddress] = kB;
  Session session(platform_);
  ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
  const InterruptedCheck check = CheckInterruptedWrite(session, Link::Processor, record);
  ASSERT_EQ(check.state, InterruptedWrite::Finishable);
  register_.faultOnCommand(kWriteByte, RegisterFault::Silent);
  EXPECT_EQ(FinishInterruptedWrite(session, Link::Processor, record, check).failedExchange, 6);
  EXPECT_TRUE(recordExists());
  EXPECT_EQ(session.registerAddress, 0xFE);
}

TEST_F(FinishTest, AWriteGoesOnWhenItsRecordCannotBeWritten) {
  // The state folder's place is taken by a file.
  const std::string blocked = test::StateHome() + "/blocked";
  std::ofstream(blocked) << "not a folder";
  test::PointStateHomeAt(blocked);
  Session session(platform_);
  ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
  testing::internal::CaptureStderr();
  const WriteResult result = WriteNetworkNumber(session, Link::Processor, kNumber);
  const std::string err = testing::internal::GetCapturedStderr();
  test::PointStateHomeAt(test::StateHome());
  EXPECT_TRUE(result.written());
  EXPECT_EQ(places(), complete());
  EXPECT_NE(err.find("kkm-netnum: cannot create " + blocked), std::string::npos) << err;
}

TEST(WriteRecordFile, RoundTripsAndIsKeyedByPortAndLink) {
  const WriteRecord cpu{"/dev/ttyUSB0", "/dev/ttyUSB0", Link::Processor, 0xFE, 0xBA, 0xFE, 0x37, 0xF3};
  WriteRecord kia = cpu;
  kia.link = Link::Kia;
  kia.portName = "COM3";
  kia.devicePath = "/dev/ttyS2";
  std::string reason;
  ASSERT_TRUE(SaveRecord(cpu, reason)) << reason;
  ASSERT_TRUE(SaveRecord(kia, reason)) << reason;
  EXPECT_EQ(LoadRecord("/dev/ttyUSB0", Link::Processor).record, cpu);
  EXPECT_EQ(LoadRecord("COM3", Link::Kia).record, kia);
  for (const auto& [port, link] : {std::pair<const char*, Link>{"/dev/ttyUSB0", Link::Kia},
                                   {"COM3", Link::Processor},
                                   {"_dev_ttyUSB0", Link::Processor}})
    EXPECT_EQ(LoadRecord(port, link).status, RecordStatus::None) << port;
  EXPECT_TRUE(RemoveRecord("COM3", Link::Kia, reason));
  EXPECT_EQ(LoadRecord("COM3", Link::Kia).status, RecordStatus::None);
  EXPECT_TRUE(RemoveRecord("COM3", Link::Kia, reason)) << "a record not there counts as removed";
  // No temporary file stays behind.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(test::StateHome() + "/kkm-netnum"))
    ++files;
  EXPECT_EQ(files, 1u);
}

TEST(WriteRecordFile, TornOrDamagedTextIsRefused) {
  const WriteRecord record{"COM1", "/dev/ttyS0", Link::Processor, 0xFE, 0xBA, 0xFE, 0x37, 0xF3};
  const std::string text = FormatRecord(record);
  WriteRecord parsed;
  std::string reason;
  ASSERT_TRUE(ParseRecord(text, parsed, reason)) << reason;
  EXPECT_EQ(parsed, record);
  // Every torn file: each proper prefix.
  for (std::size_t length = 0; length + 1 < text.size(); ++length)
    EXPECT_FALSE(ParseRecord(text.substr(0, length), parsed, reason)) << length;
  const auto replaced = [&text](const std::string& from, const std::string& to) {
    std::string damaged = text;
    damaged.replace(damaged.find(from), from.size(), to);
    return damaged;
  };
  for (const std::string& damaged :
       {replaced("version=1", "version=2"), replaced("checksum_new=0xF3", "checksum_new=0xF4"),
        replaced("link=cpu", "link=usb"), replaced("new=0xBA", "new=0xba"), replaced("new=0xBA", "new=186"),
        replaced("address=0xFE\n", "address=0xFE\naddress=0xFE\n"), replaced("port=COM1\n", ""),
        replaced("port=COM1", "port="), replaced("end\n", "end\nmore\n"),
        replaced("link=cpu\n", "colour=red\n"), text + "\n"})
    EXPECT_FALSE(ParseRecord(damaged, parsed, reason)) << damaged;
}

TEST(WriteRecordFile, AnUnusableFileIsReportedNotActedOn) {
  const std::string path = RecordPath("COM1", Link::Processor);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "version=1\nport=COM1\n";  // torn
  const LoadedRecord loaded = LoadRecord("COM1", Link::Processor);
  EXPECT_EQ(loaded.status, RecordStatus::Unusable);
  EXPECT_NE(loaded.reason.find(path), std::string::npos) << loaded.reason;
  // A whole record that names another port is refused too.
  WriteRecord other{"COM2", "COM2", Link::Processor, 0xFE, 0xBA, 0xFE, 0x37, 0xF3};
  std::ofstream(path) << FormatRecord(other);
  EXPECT_EQ(LoadRecord("COM1", Link::Processor).status, RecordStatus::Unusable);
}

}  // namespace
}  // namespace kkm::service
