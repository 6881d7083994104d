// A write cut at any of its exchanges, on the virtual line: the record it
// leaves, what a later connection finds, finishing it or writing anew, so that
// the register ends untouched or consistent for the number last confirmed.
// Also the record file itself: written whole, never through a planted link,
// or refused.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string_view>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "serial/Platform.h"
#include "serial/PortMap.h"
#include "service/Connection.h"
#include "service/History.h"
#include "service/Messages.h"
#include "service/NetworkNumber.h"
#include "service/Session.h"
#include "service/SessionFailure.h"
#include "service/WriteRecord.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/kia/KiaBoard.h"
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
    platform_.addPort("COM2", line_);
    kiaPlatform_.addPort("KIA", kiaLine_);
    kiaLine_.attach(board_);
    numberOld_ = register_.nonVolatile()[kEepromNumberAddress];
    checksumOld_ = register_.nonVolatile()[kEepromChecksumAddress];
  }

  Places places() const { return test::PlacesOf(register_); }
  // What a complete write of 45 leaves.
  Places complete() const { return {kB, kB, kB, static_cast<std::uint8_t>(checksumOld_ - numberOld_ + kB)}; }
  // What a complete write of `number` leaves.
  Places completeOf(int number) const {
    const std::uint8_t b = NetworkNumberByte(number);
    return {b, b, b, static_cast<std::uint8_t>(checksumOld_ - numberOld_ + b)};
  }
  WriteRecord expectedRecord() const {
    return {"COM1", "COM1", Link::Processor, 0xFE, kB, true, numberOld_, checksumOld_};
  }
  bool recordExists() const {
    return LoadRecord("COM1", Link::Processor, "COM1").status == RecordStatus::Found;
  }

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
  // The same register's memories behind a KIA board on a line of its own.
  sim::VirtualLine kiaLine_;
  sim::VirtualPlatform kiaPlatform_{kiaLine_};
  sim::kia::KiaBoard board_{register_.dataMemory(), register_.nonVolatile()};
  std::uint8_t numberOld_ = 0;
  std::uint8_t checksumOld_ = 0;
};

// How a write is cut at its exchange k (frame k after connecting): the
// frame never reaches the register, or the register executes it and its
// answers are lost.
enum class Cut { Silent, AnswerLost };
// What comes next, once the register answers again.
enum class Then { Finish, NewWrite };

using CutRow = std::tuple<int, Cut, Then>;

class CutWrite : public FinishTest, public ::testing::WithParamInterface<CutRow> {};

TEST_P(CutWrite, EndsUntouchedOrConsistentNeverWithAFalseSuccess) {
  const auto [exchange, cut, then] = GetParam();
  const auto frame = static_cast<std::uint32_t>(exchange);
  {
    Session session(platform_, "kkm-netnum");
    ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
    tap_.arm(cut == Cut::Silent ? test::FaultTap::Strike{frame, true, {}, {}}
                                : test::FaultTap::Strike{frame, false, {}, [](std::size_t, std::uint8_t) {
                                                           return std::vector<std::uint8_t>{};
                                                         }});
    ASSERT_EQ(WriteNetworkNumber(session, Link::Processor, kNumber).failedExchange, exchange);
  }
  tap_.arm({});
  // The record stays until exchange 6 is acknowledged, with the old bytes once read.
  const LoadedRecord loaded = LoadRecord("COM1", Link::Processor, "COM1");
  ASSERT_EQ(loaded.status, RecordStatus::Found);
  EXPECT_EQ(loaded.record.oldKnown, exchange >= 4);
  const Places afterCut = places();

  Session session(platform_, "kkm-netnum");
  ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
  int confirmed = kNumber;
  if (then == Then::NewWrite) {
    // A new write does not start on top of a cut one that may have touched
    // the non-volatile memory; before exchange 4 it takes the cut one's place.
    const WriteResult result = WriteNetworkNumber(session, Link::Processor, 17);
    if (exchange >= 4) {
      EXPECT_EQ(result.refused, WriteRefusal::RecordPending);
      EXPECT_EQ(places(), afterCut) << "nothing sent";
    } else {
      EXPECT_TRUE(result.written()) << serial::DescribeFailure(result.failure);
      confirmed = 17;
    }
  }
  if (confirmed == kNumber) {
    const InterruptedCheck check = CheckInterruptedWrite(session, Link::Processor, loaded.record);
    ASSERT_TRUE(check.ok);
    ASSERT_NE(check.state, InterruptedWrite::Changed);
    EXPECT_TRUE(FinishInterruptedWrite(session, Link::Processor, loaded.record, check).written());
    if (then == Then::NewWrite) {
      EXPECT_TRUE(WriteNetworkNumber(session, Link::Processor, 17).written());
      confirmed = 17;
    }
  }
  EXPECT_EQ(places(), completeOf(confirmed));
  EXPECT_TRUE(register_.nonVolatileChecksumHolds());
  EXPECT_EQ(session.registerAddress, NetworkNumberByte(confirmed));
  EXPECT_FALSE(recordExists());
}

std::string CutRowName(const ::testing::TestParamInfo<CutRow>& info) {
  const auto [exchange, cut, then] = info.param;
  return "Exchange" + std::to_string(exchange) + (cut == Cut::Silent ? "Silent" : "AnswerLost") +
         (then == Then::Finish ? "ThenFinish" : "ThenNewWrite");
}

INSTANTIATE_TEST_SUITE_P(Rows, CutWrite,
                         ::testing::Combine(::testing::Range(1, kWriteExchanges + 1),
                                            ::testing::Values(Cut::Silent, Cut::AnswerLost),
                                            ::testing::Values(Then::Finish, Then::NewWrite)),
                         CutRowName);

// Which memory contents allow finishing: the decision over every pairing of
// the number cell and the checksum cell with the record's bytes, and whether
// the working copy shows that exchange 1 reached this register.
TEST_F(FinishTest, TheMemoryDecidesWhetherTheWriteCanBeFinished) {
  const WriteRecord record = expectedRecord();
  const std::uint8_t other = 0x5A;
  const std::uint8_t fresh = 0xFE;  // a register fresh from the factory: number 01 everywhere
  struct Row {
    std::uint8_t number, checksum, working;
    InterruptedWrite found;
  };
  const Row rows[] = {
      {record.numberOld, record.checksumOld, kB, InterruptedWrite::Untouched},
      {record.numberOld, record.checksumOld, fresh, InterruptedWrite::OtherRegister},
      {kB, record.checksumOld, fresh, InterruptedWrite::Finishable},
      {kB, record.checksumNew(), kB, InterruptedWrite::Finishable},
      {kB, other, kB, InterruptedWrite::Changed},
      {kB, other, fresh, InterruptedWrite::OtherRegister},
      {record.numberOld, record.checksumNew(), kB, InterruptedWrite::Changed},
      {other, record.checksumOld, kB, InterruptedWrite::Changed},
      {other, other, fresh, InterruptedWrite::OtherRegister},
  };
  for (const Link link : {Link::Processor, Link::Kia})
    for (const Row& row : rows) {
      SCOPED_TRACE(testing::Message() << LinkName(link) << " " << std::hex << int(row.number) << "/"
                                      << int(row.checksum) << "/" << int(row.working));
      const char* port = link == Link::Processor ? "COM1" : "KIA";
      WriteRecord recorded = record;
      recorded.portName = recorded.device = port;
      recorded.link = link;
      ASSERT_TRUE(SaveRecord(recorded));
      register_.nonVolatile()[kEepromNumberAddress] = row.number;
      register_.nonVolatile()[kEepromChecksumAddress] = row.checksum;
      register_.dataMemory()[sim::kWorkingNumberCell] = row.working;
      Session session(link == Link::Processor ? static_cast<serial::Platform&>(platform_) : kiaPlatform_,
                      "kkm-netnum");
      ASSERT_TRUE(Connect(session, port, link).connected());
      const InterruptedCheck check = CheckInterruptedWrite(session, link, recorded);
      EXPECT_EQ(check.state, row.found);
      EXPECT_EQ(LoadRecord(session, link).record, recorded) << "looking changes nothing";
      // Another register is never written to, whatever finishing is asked.
      if (row.found == InterruptedWrite::OtherRegister) {
        const Places before = places();
        EXPECT_EQ(FinishInterruptedWrite(session, link, recorded, check).refused,
                  WriteRefusal::RecordPending);
        EXPECT_EQ(places(), before);
      }
    }
  // The record of another register on the port (line address 05) is not its:
  // nothing is read or written for it.
  WriteRecord another = record;
  another.registerAddress = NetworkNumberByte(5);
  another.newByte = NetworkNumberByte(17);
  Session session(platform_, "kkm-netnum");
  ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
  register_.clearLog();
  EXPECT_EQ(CheckInterruptedWrite(session, Link::Processor, another).state, InterruptedWrite::OtherRegister);
  EXPECT_TRUE(register_.log().empty());
}

TEST_F(FinishTest, AFinishThatFailsKeepsTheRecord) {
  WriteRecord record = expectedRecord();
  ASSERT_TRUE(SaveRecord(record));
  register_.nonVolatile()[kEepromNumberAddress] = kB;
  Session session(platform_, "kkm-netnum");
  ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
  const InterruptedCheck check = CheckInterruptedWrite(session, Link::Processor, record);
  ASSERT_EQ(check.state, InterruptedWrite::Finishable);
  register_.faultOnCommand(kWriteByte, RegisterFault::Silent);
  EXPECT_EQ(FinishInterruptedWrite(session, Link::Processor, record, check).failedExchange, 1);
  EXPECT_TRUE(recordExists());
  EXPECT_EQ(session.registerAddress, 0xFE);
}

// A register half-written through another name of its port is known by its
// memory before exchange 4: the record moves to this name, the write stops,
// and finishing puts every place right, the working copy included.
TEST_F(FinishTest, AHalfWrittenRegisterIsKnownByItsMemoryUnderAnyName) {
  {
    Session session(platform_, "kkm-netnum");
    ASSERT_TRUE(Connect(session, "COM2", Link::Processor).connected());
    tap_.arm({5, true, {}, {}});
    ASSERT_EQ(WriteNetworkNumber(session, Link::Processor, kNumber).failedExchange, 5);
  }
  tap_.arm({});
  Session session(platform_, "kkm-netnum");
  ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
  EXPECT_EQ(WriteNetworkNumber(session, Link::Processor, 17).refused, WriteRefusal::RecordPending);
  EXPECT_EQ(places().stored, kB) << "exchange 4 not sent";
  EXPECT_EQ(LoadRecord("COM2", Link::Processor, "COM2").status, RecordStatus::None);
  const WriteRecord moved = LoadRecord(session, Link::Processor).record;
  const InterruptedCheck check = CheckInterruptedWrite(session, Link::Processor, moved);
  EXPECT_TRUE(FinishInterruptedWrite(session, Link::Processor, moved, check).written());
  EXPECT_EQ(places(), complete());
}

#ifndef _WIN32  // Windows folders do not refuse files so
// A record that cannot be completed before exchange 4 ends the write as a
// refusal: nothing non-volatile sent, the first record kept for a new write.
TEST_F(FinishTest, ARecordThatCannotBeCompletedStopsTheWriteBeforeExchange4) {
  namespace fs = std::filesystem;
  const std::string folder = test::StateHome() + "/kkm-netnum";
  Session session(platform_, "kkm-netnum");
  ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
  tap_.arm({3, false, [&] { fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec); }, {}});
  const WriteResult result = WriteNetworkNumber(session, Link::Processor, kNumber);
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(std::pair(result.refused, places().stored), std::pair(WriteRefusal::NoRecord, numberOld_));
  EXPECT_FALSE(LoadRecord(session, Link::Processor).record.oldKnown);
  tap_.arm({});
  EXPECT_TRUE(WriteNetworkNumber(session, Link::Processor, kNumber).written());
}
#endif

TEST_F(FinishTest, AWriteDoesNotStartWithoutItsRecord) {
  namespace fs = std::filesystem;
  const std::string home = test::StateHome() + "/home";
  const std::string folder = home + "/kkm-netnum";
  const std::pair<const char*, std::function<void()>> states[] = {
      {"missing, under a file", [&] { std::ofstream(home) << "a file"; }},
      {"a file", [&] { fs::create_directories(home), std::ofstream(folder) << "a file"; }},
#ifndef _WIN32  // Windows has neither links made so nor read-only folders that refuse files
      {"a link to a folder",
       [&] {
         fs::create_directories(home + "/elsewhere"),
             fs::create_directory_symlink(home + "/elsewhere", folder);
       }},
      {"read-only",
       [&] {
         fs::create_directories(folder),
             fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
       }},
      {"another user's",
       [&] { fs::create_directories(folder), (void)::chown(folder.c_str(), 65534, 65534); }},
#endif
  };
  for (const auto& [name, prepare] : states) {
    SCOPED_TRACE(name);
#ifndef _WIN32
    if (std::string_view(name) == "another user's" && ::geteuid() != 0)
      continue;  // only root gives folders away
#endif
    prepare();
    test::PointStateHomeAt(home);
    Session session(platform_, "kkm-netnum");
    ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
    register_.clearLog();
    const WriteResult result = WriteNetworkNumber(session, Link::Processor, kNumber);
    test::PointStateHomeAt(test::StateHome());
    EXPECT_EQ(result.refused, WriteRefusal::NoRecord);
    EXPECT_NE(result.failure.text().find(home), std::string::npos) << result.failure.text();
    EXPECT_TRUE(register_.log().empty()) << "nothing sent";
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, ignored);
    fs::remove_all(home, ignored);
  }
}

#ifndef _WIN32
TEST_F(FinishTest, PlantedLinksAndFifosNeitherRedirectNorBlock) {
  namespace fs = std::filesystem;
  const std::string target = test::StateHome() + "/target";
  std::ofstream(target) << "precious";
  const std::string folder = test::StateHome() + "/kkm-netnum";
  fs::create_directories(folder);
  const std::string record = RecordPath("COM1", Link::Processor);
  // The temporary record and the history through links: the write goes on, the target stays.
  for (const std::string& name : {record + ".tmp", folder + "/history.jsonl"})
    fs::create_symlink(target, name);
  Session session(platform_, "kkm-netnum");
  ASSERT_TRUE(Connect(session, "COM1", Link::Processor).connected());
  const WriteResult written = WriteNetworkNumber(session, Link::Processor, kNumber);
  EXPECT_TRUE(written.written());
  ASSERT_EQ(written.warnings.size(), 1u);
  EXPECT_NE(written.warnings[0].text().find("history.jsonl"), std::string::npos);
  // A FIFO with a reader in the history's place is refused, never written to.
  fs::remove(folder + "/history.jsonl");
  ASSERT_EQ(::mkfifo((folder + "/history.jsonl").c_str(), 0600), 0);
  const int reader = ::open((folder + "/history.jsonl").c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(WriteNetworkNumber(session, Link::Processor, kNumber).warnings.size(), 1u);
  char byte = 0;
  EXPECT_EQ(::read(reader, &byte, 1), 0) << "nothing came through the FIFO";
  ::close(reader);
  // The record is replaced as a whole: a hard link to the old file keeps the old text.
  ASSERT_TRUE(SaveRecord(expectedRecord()));
  fs::create_hard_link(record, record + ".old");
  ASSERT_TRUE(SaveRecord({"COM1", "COM1", Link::Processor, 0xFE, NetworkNumberByte(17)}));
  std::ifstream old(record + ".old");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), FormatRecord(expectedRecord()));
  fs::remove(record + ".old"), fs::remove(record);
  // The record's own name through a link: replaced as a whole, never written through.
  fs::create_symlink(target, record);
  ASSERT_TRUE(SaveRecord(expectedRecord()));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(record)));
  std::ifstream in(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
  // A link or a FIFO in the record's place is refused at once, never taken for no record.
  for (const bool fifo : {false, true}) {
    fs::remove(record);
    ASSERT_EQ(fifo ? ::mkfifo(record.c_str(), 0600) : (fs::create_symlink(target, record), 0), 0);
    const LoadedRecord loaded = LoadRecord("COM1", Link::Processor, "COM1");
    EXPECT_EQ(loaded.status, RecordStatus::Unusable) << fifo;
    EXPECT_EQ(WriteNetworkNumber(session, Link::Processor, 17).refused, WriteRefusal::RecordUnusable);
  }
}
#endif

// The service history: rotated exactly at its size, read oldest first,
// refused rather than read as empty, and never losing a line or a generation
// to a second writer.
TEST(HistoryFile, RotatesAtItsSizeAndKeepsEveryLine) {
  namespace fs = std::filesystem;
  const std::string folder = test::StateHome() + "/kkm-netnum";
  const std::string current = folder + "/" + kHistoryFile, older = folder + "/" + kOlderHistoryFile;
  const HistoryEntry entry{"write", "written", "COM1", "COM1", Link::Processor, 0xFE, 0xFE, 0xBA, 0, {}};
  std::string reason;
  const auto append = [&] {
    const serial::Status appended = AppendHistory("test", entry);
    reason = appended.failure().text();
    return appended.ok();
  };
  const auto fill = [](const std::string& path, std::size_t bytes, const std::string& text = {}) {
    std::ofstream(path, std::ios::trunc | std::ios::binary)
        << (text.empty() ? std::string(bytes - 1, 'x') : text) << '\n';
  };
  ASSERT_TRUE(append()) << reason;
  const std::size_t line = fs::file_size(current);
  for (const std::size_t over : {0, 1}) {  // at the size: no rotation; one byte over: rotated
    fill(current, kHistoryRotateBytes - line + over);
    ASSERT_TRUE(append()) << reason;
    EXPECT_EQ(fs::exists(older), over == 1);
  }
  fill(older, 0, "{}");
  const std::vector<std::string> both = HistoryLines().lines;
  EXPECT_TRUE(both.size() == 2 && both.front() == "{}") << "the older first";
  // A rotation that fails loses nothing; a history that cannot be read is refused, not empty.
  fs::remove(older), fs::create_directories(older + "/in-the-way");
  fill(current, kHistoryRotateBytes);
  EXPECT_FALSE(append());
  EXPECT_EQ(fs::file_size(current), kHistoryRotateBytes);
  EXPECT_TRUE(HistoryLines().lines.empty() && !HistoryLines().status.ok());
  fs::remove_all(older);
  // Two writers at the rotation edge, again and again: every line stays.
  for (int round = 0; round < 80; ++round) {
    fs::remove(older);
    fill(current, kHistoryRotateBytes - 2 * line);
    const std::size_t before = HistoryLines().lines.size();
    std::thread other([&] {
      for (int i = 0; i < 8; ++i) EXPECT_TRUE(AppendHistory("test", entry).ok());
    });
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(append()) << reason;
    other.join();
    ASSERT_EQ(HistoryLines().lines.size(), before + 16) << "round " << round;
  }
}

#ifndef _WIN32
// Every file failure planted where the record, the history and the port map
// live is refused, and said to the technician in Russian: nothing Latin but
// the paths, the program's name and the system's error text after a colon.
TEST(StateFileFailures, EachIsRefusedAndSaidInRussian) {
  namespace fs = std::filesystem;
  enum class Plant { Link, Fifo, Folder, TooLarge, ReadOnlyFolder };
  enum class Kept { Record, History, Map };
  const std::string state = test::StateHome() + "/kkm-netnum";
  const std::string record = RecordPath("COM1", Link::Processor);
  const std::string history = state + "/" + kHistoryFile;
  const std::string map = serial::PortMapPath();
  std::vector<std::string> allowed = {record,
                                      history,
                                      history + ".1",
                                      state + "/history.lock",
                                      map + ".target",
                                      map,
                                      record + ".target",
                                      history + ".target",
                                      state,
                                      fs::path(map).parent_path().string(),
                                      "kkm-netnum-cli",
                                      "kkm-netnum"};
  for (const int error : {ELOOP, EISDIR, ENXIO, EACCES, ENOENT, ENOTDIR, EPERM})
    allowed.push_back(std::strerror(error));
  const HistoryEntry entry{"write", "written", "COM1", "COM1", Link::Processor, 0xFE, 0xFE, 0xBA, 0, {}};
  for (const Kept kept : {Kept::Record, Kept::History, Kept::Map})
    for (const Plant plant :
         {Plant::Link, Plant::Fifo, Plant::Folder, Plant::TooLarge, Plant::ReadOnlyFolder}) {
      SCOPED_TRACE(testing::Message() << "file " << int(kept) << ", planted " << int(plant));
      const std::string path = kept == Kept::Record ? record : kept == Kept::History ? history : map;
      const fs::path folder = fs::path(path).parent_path();
      if (kept == Kept::Map && plant == Plant::ReadOnlyFolder && ::geteuid() == 0)
        continue;  // the map's folder is the system's to refuse, and root is refused nothing
      fs::create_directories(folder);
      switch (plant) {
        case Plant::Link:  // to a folder: the map, which follows links, finds no file either
          fs::create_directory(path + ".target");
          fs::create_symlink(path + ".target", path);
          break;
        case Plant::Fifo:
          ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
          break;
        case Plant::Folder:
          fs::create_directory(path);
          break;
        case Plant::TooLarge:
          std::ofstream(path) << std::string(5 << 20, '#');
          break;
        case Plant::ReadOnlyFolder:
          fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
          break;
      }
      std::string said;
      if (kept == Kept::Record) {
        const LoadedRecord loaded = LoadRecord("COM1", Link::Processor, "COM1");
        said = loaded.status == RecordStatus::Unusable
                   ? std::string(kUnusableRecordText) + ": " + loaded.failure.text()
                   : StateFileFailure(SaveRecord({"COM1", "COM1", Link::Processor, 0xFE, 0xBA}).failure())
                         .text();
      } else if (kept == Kept::History) {
        serial::Status status = AppendHistory("kkm-netnum", entry);
        if (status) status = HistoryLines().status;
        said = status ? std::string() : StateFileFailure(status.failure()).text();
      } else {
        for (const std::string& problem : serial::ProblemLines(serial::LoadPortMap()))
          said += "kkm-netnum-cli: " + problem + "\n";
        if (said.empty()) said = serial::SavePortMap("COM1 = /dev/ttyS0\n").failure().text();
      }
      fs::permissions(folder, fs::perms::owner_all);
      test::ClearStateHome();
      EXPECT_FALSE(said.empty()) << "refused";
      EXPECT_EQ(test::LatinWordsLeft(said, allowed), "") << said;
    }
}
#endif

}  // namespace
}  // namespace kkm::service
