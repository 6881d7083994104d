// The real kkm-netnum-cli against kkm-sim on a pseudo-terminal, in real time:
// read, write and read back on both links, a scan of a line with several
// registers, two of them sharing an address, and a row of fresh registers
// commissioned one after another.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/support/KeptFolder.h"
#include "tests/support/SimChild.h"
#include "tests/support/StateHome.h"
#include "tools/kkm-netnum-cli/CliTool.h"
#include "tools/kkm-netnum-cli/Commission.h"
#include "tools/kkm-netnum-cli/SharedLine.h"

extern char** environ;

namespace kkm::e2e {
namespace {

using cli::kExitConflict;
using cli::kExitNumberTaken;

using namespace test;  // the simulator launcher and its files

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Starts the tool with `args` and the file actions; the process id, or -1.
pid_t SpawnCli(const std::vector<std::string>& args, posix_spawn_file_actions_t& actions) {
  std::vector<char*> argv{const_cast<char*>(KKM_CLI_PATH)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, KKM_CLI_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

// Runs the tool with `args` and collects both streams until it ends.
CliRun RunCli(const std::vector<std::string>& args) {
  std::array<int, 2> out{}, err{};
  if (pipe(out.data()) != 0 || pipe(err.data()) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  const pid_t pid = SpawnCli(args, actions);
  const int spawned = pid > 0 ? 0 : -1;
  close(out[1]);
  close(err[1]);
  CliRun run;
  std::array<pollfd, 2> fds{pollfd{out[0], POLLIN, 0}, pollfd{err[0], POLLIN, 0}};
  std::array<std::string*, 2> sinks{&run.out, &run.err};
  int open = 2;
  while (spawned == 0 && open > 0 && poll(fds.data(), fds.size(), 60'000) > 0) {
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[512];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  int status = 0;
  if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    run.exitCode = WEXITSTATUS(status);
  return run;
}

// The simulator's trace and dump go to a folder kept when the test fails.
class CliRoad : public test::KeptFolderTest {
 protected:
  CliRoad() : KeptFolderTest("cli-road-") {}
};

// The processor link on the slave's path, bytes handed over one by one (the
// address scan's 10 ms wait is tight behind a FIFO); the KIA link on COM1
// mapped to it, with the FIFO it relies on.
TEST_F(CliRoad, ReadWriteAndReadBackOnBothLinks) {
  for (const bool processor : {true, false}) {
    SCOPED_TRACE(processor ? "processor link" : "KIA link");
    const std::vector<std::string> simArgs =
        processor ? std::vector<std::string>{"--link", "cpu", "--number", "1", "--uart-fifo", "0"}
                  : std::vector<std::string>{"--link", "kia", "--number", "1"};
    RecordedSim sim(KKM_SIM_PATH, simArgs, file("trace.txt"), file("cells.txt"));
    const std::string slave = sim.slavePath(kSimStartTimeout);
    ASSERT_FALSE(slave.empty()) << "kkm-sim did not announce its line";
    setenv("KKM_COM1", slave.c_str(), 1);
    const std::vector<std::string> where = processor
                                               ? std::vector<std::string>{"--port", slave}
                                               : std::vector<std::string>{"--port", "COM1", "--link", "kia"};
    const auto with = [&where](std::vector<std::string> args) {
      args.insert(args.end(), where.begin(), where.end());
      return args;
    };

    const CliRun first = RunCli(with({"read"}));
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out, "01\n");
    const CliRun written = RunCli(with({"write", "45"}));
    EXPECT_EQ(written.exitCode, 0) << written.err;
    EXPECT_EQ(written.out, "45\n");
    EXPECT_EQ(written.err, "");
    const CliRun back = RunCli(with({"read", "--json"}));
    EXPECT_EQ(back.exitCode, 0) << back.err;
    EXPECT_EQ(back.out,
              processor
                  ? R"({"outcome":"done","number":45,"number_text":"45","address":186,"firmware":"1.0.5",)"
                    R"("failed_exchange":null,"reason":null,"warnings":[]})"
                    "\n"
                  : R"({"outcome":"done","number":45,"number_text":"45","address":null,"firmware":null,)"
                    R"("failed_exchange":null,"reason":null,"warnings":[]})"
                    "\n");

    ASSERT_EQ(sim.stop(kSimStopTimeout), 0);
    // 45 in the three places, the checksum moved with it (it started equal to the number byte).
    EXPECT_EQ(ReadMemoryDump(sim.dumpPath()),
              (std::map<std::uint16_t, std::uint8_t>{
                  {0x1140, 0xBA}, {0x020F, 0xBA}, {0x073E, 0xBA}, {0x0740, 0xBA}}));
  }
}

TEST_F(CliRoad, ScanListsEveryRegisterAndTheAddressTwoOfThemShare) {
  RecordedSim sim(KKM_SIM_PATH, {"--registers", "17,5", "--registers", "1,5", "--uart-fifo", "0"},
                  file("trace.txt"), file("cells.txt"));
  const std::string slave = sim.slavePath(kSimStartTimeout);
  ASSERT_FALSE(slave.empty()) << "kkm-sim did not announce its line";

  const CliRun text = RunCli({"scan", "--port", slave});
  EXPECT_EQ(text.exitCode, kExitConflict) << text.err;
  EXPECT_EQ(text.out,
            "01  0xFE  1.0.5\n"
            "17  0xE8  1.0.5\n"
            "--  0xFA  конфликт: несколько ККМ отвечают на этот адрес\n");
  EXPECT_EQ(text.err, "");

  const CliRun json = RunCli({"scan", "--port", slave, "--json"});
  EXPECT_EQ(json.exitCode, kExitConflict) << json.err;
  EXPECT_EQ(
      json.out,
      R"({"outcome":"conflict","registers":[{"number":1,"number_text":"01","address":254,"firmware":"1.0.5"},)"
      R"({"number":17,"number_text":"17","address":232,"firmware":"1.0.5"}],"conflicts":[{"number":5,"number_text":"05","address":250}],)"
      R"("reason":null})"
      "\n");

  // All 256 address bytes went out, 0xFF first and 0x00 last, before the version queries.
  EXPECT_EQ(sim.stop(kSimStopTimeout), 0);
  std::vector<std::uint8_t> candidates;
  for (const TraceLine& line : ReadTrace(sim.tracePath()))
    if (line.fromHost && line.parity == "mark" && candidates.size() < 256) candidates.push_back(line.byte);
  ASSERT_EQ(candidates.size(), 256u);
  EXPECT_EQ(candidates.front(), 0xFF);
  EXPECT_EQ(candidates.back(), 0x00);
}

// Registers 01, 05 and 17 on one line, reached as COM1 through the port map
// alone: each command names its register, and a write to a number another
// register has is refused before anything is written (the register's own
// number is no conflict).
TEST_F(CliRoad, OnASharedLineTheNamedRegisterIsReadAndWrittenAndATakenNumberIsRefused) {
  RecordedSim sim(KKM_SIM_PATH, {"--registers", "1,5,17", "--uart-fifo", "0"}, file("trace.txt"),
                  file("cells.txt"));
  const std::string slave = sim.slavePath(kSimStartTimeout);
  ASSERT_FALSE(slave.empty()) << "kkm-sim did not announce its line";
  unsetenv("KKM_COM1");
  const CliRun mapped = RunCli({"ports", "--map", "COM1", slave});
  ASSERT_EQ(mapped.exitCode, 0) << mapped.err;

  const CliRun scan = RunCli({"scan", "--port", "COM1"});
  EXPECT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_EQ(scan.out, "01  0xFE  1.0.5\n05  0xFA  1.0.5\n17  0xE8  1.0.5\n");
  const CliRun five = RunCli({"read", "--register", "5", "--port", "COM1"});
  EXPECT_EQ(five.exitCode, 0) << five.err;
  EXPECT_EQ(five.out, "05\n");
  const CliRun nine = RunCli({"write", "9", "--register", "17", "--port", "COM1"});
  EXPECT_EQ(nine.exitCode, 0) << nine.err;
  EXPECT_EQ(nine.out, "09\n");
  const CliRun taken = RunCli({"write", "5", "--register", "1", "--port", "COM1"});
  EXPECT_EQ(taken.exitCode, kExitNumberTaken) << taken.err;
  EXPECT_EQ(taken.err, "Сетевой номер 05 уже занят другой ККМ на этой линии; запись не выполнена.\n");
  const CliRun own = RunCli({"write", "5", "--register", "5", "--port", "COM1"});
  EXPECT_EQ(own.exitCode, 0) << own.err << " (its own number is no conflict)";

  ASSERT_EQ(sim.stop(kSimStopTimeout), 0);
  const auto cells = [](std::uint8_t b) {
    return std::map<std::uint16_t, std::uint8_t>{{0x1140, b}, {0x020F, b}, {0x073E, b}, {0x0740, b}};
  };
  EXPECT_EQ(ReadMemoryDump(sim.dumpPath()), cells(0xFE)) << "register 01 untouched";
  EXPECT_EQ(ReadMemoryDump(sim.dumpPath() + ".2"), cells(0xFA)) << "register 05 untouched";
  EXPECT_EQ(ReadMemoryDump(sim.dumpPath() + ".3"), cells(0xF6)) << "register 17 is now 09";
}

// Starts the tool with `args`, its output discarded; the process id, or -1.
pid_t StartCli(const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  return SpawnCli(args, actions);
}

// The program killed between exchanges 4 and 5 leaves its record; the next
// run finishes the write. The register answers the address of the write's
// fifth exchange (its seventh after the scan and the version query) busy for
// as long as the tool keeps asking, so the kill comes while exchange 4 is
// done and exchange 5 has not started.
TEST_F(CliRoad, AProgramKilledBetweenExchangesFourAndFiveFinishesTheWriteAfterARestart) {
  RecordedSim sim(KKM_SIM_PATH,
                  {"--link", "cpu", "--number", "1", "--uart-fifo", "0", "--fault", "7:busy=100000"},
                  file("trace.txt"), file("cells.txt"));
  const std::string slave = sim.slavePath(kSimStartTimeout);
  ASSERT_FALSE(slave.empty()) << "kkm-sim did not announce its line";

  const pid_t cli = StartCli({"write", "45", "--port", slave});
  ASSERT_GT(cli, 0);
  const auto busyAnswered = [&] {
    for (const TraceLine& line : ReadTrace(sim.tracePath()))
      if (!line.fromHost && line.byte == 0x65) return true;
    return false;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!busyAnswered() && std::chrono::steady_clock::now() < deadline) usleep(10'000);
  // A second process meanwhile is told the port is in use, and by whom: it
  // never sees the live write as an interrupted one, nor discards its record.
  for (const std::vector<std::string>& second :
       {std::vector<std::string>{"finish", "--discard", "--port", slave}, {"write", "17", "--port", slave}}) {
    const CliRun refused = RunCli(second);
    EXPECT_EQ(refused.exitCode, cli::kExitPortUnavailable) << refused.err;
    EXPECT_NE(refused.err.find(std::to_string(cli) + " (kkm-netnum-cli)"), std::string::npos) << refused.err;
  }
  kill(cli, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(cli, &status, 0), cli);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the tool ended on its own before the kill";
  bool recordLeft = false;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(test::StateHome()))
    recordLeft = recordLeft || entry.path().filename().string().rfind("write-", 0) == 0;
  EXPECT_TRUE(recordLeft);

  const CliRun warned = RunCli({"read", "--port", slave});
  EXPECT_EQ(warned.exitCode, 0) << warned.err;
  EXPECT_EQ(warned.err.rfind("Внимание: запись сетевого номера 45 через " + slave + " была прервана", 0), 0u)
      << warned.err;
  // A fresh register with the same number on another port is not the record's:
  // finishing there writes nothing and the record stays.
  {
    RecordedSim fresh(KKM_SIM_PATH, {"--link", "cpu", "--number", "1", "--uart-fifo", "0"}, file("fresh.txt"),
                      file("fresh-cells.txt"));
    const CliRun other = RunCli({"finish", "--port", fresh.slavePath(kSimStartTimeout)});
    EXPECT_EQ(other.exitCode, 0) << other.err;
    ASSERT_EQ(fresh.stop(kSimStopTimeout), 0);
    EXPECT_EQ(ReadMemoryDump(fresh.dumpPath()),
              (std::map<std::uint16_t, std::uint8_t>{
                  {0x1140, 0xFE}, {0x020F, 0xFE}, {0x073E, 0xFE}, {0x0740, 0xFE}}));
  }
  // Its record is not given up while the write can be finished.
  EXPECT_EQ(RunCli({"finish", "--discard", "--port", slave}).exitCode, cli::kExitRecordKept);
  const CliRun finished = RunCli({"finish", "--port", slave});
  EXPECT_EQ(finished.exitCode, 0) << finished.err;
  EXPECT_EQ(finished.out, "45\n");

  ASSERT_EQ(sim.stop(kSimStopTimeout), 0);
  EXPECT_EQ(ReadMemoryDump(sim.dumpPath()),
            (std::map<std::uint16_t, std::uint8_t>{
                {0x1140, 0xBA}, {0x020F, 0xBA}, {0x073E, 0xBA}, {0x0740, 0xBA}}));
}

TEST_F(CliRoad, APortThatIsNoTerminalOrMissingIsUnavailableWithItsReason) {
  const std::string regular = file("not-a-terminal");
  std::ofstream(regular) << "a regular file\n";
  const struct {
    std::string path;
    const char* reason;
    std::string device;  // the line that names the device tried
  } cases[] = {
      {regular, "not-a-terminal", "Устройство " + regular},
      {file("missing"), "no-such-device", "Устройство " + file("missing")},
      // A bare device name ("ttyUSB0") is a usage error before any open: CliUsage.
  };
  for (const auto& c : cases) {
    const CliRun run = RunCli({"read", "--port", c.path});
    EXPECT_EQ(run.exitCode, 3) << c.path;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with(std::string("Выбранный COM-порт недоступен: ") + c.reason + ": "))
        << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
    EXPECT_TRUE(run.err.ends_with("\n" + c.device + "\n")) << run.err;
  }
  std::ifstream kept(regular);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "a regular file\n")
      << "nothing written into it";
}

}  // namespace
}  // namespace kkm::e2e

namespace kkm::e2e {
namespace {

// The simulator's dumps of a fresh row (FILE, FILE.2, ...): each register
// holds its own number in all four cells (the checksum moved with it, as it
// started equal to the factory number's byte).
void ExpectRowNumbered(const RecordedSim& sim, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::string path = sim.dumpPath() + (i == 0 ? "" : "." + std::to_string(i + 1));
    const std::uint8_t b = bytes[i];
    EXPECT_EQ(ReadMemoryDump(path),
              (std::map<std::uint16_t, std::uint8_t>{{0x1140, b}, {0x020F, b}, {0x073E, b}, {0x0740, b}}))
        << "register " << i + 1 << " of the row";
  }
}

// The history's lines marked as commissioning from `numbers`.
int CommissionLines(const std::string& numbers) {
  const CliRun history = RunCli({"history", "--json"});
  int count = 0;
  for (std::size_t at = 0; (at = history.out.find(R"("numbers":")" + numbers + '"', at)) != std::string::npos;
       ++at)
    ++count;
  return count;
}

TEST_F(CliRoad, ARowOfFiveFreshRegistersIsCommissionedOnEachLink) {
  for (const bool processor : {true, false}) {
    SCOPED_TRACE(processor ? "processor link" : "KIA link");
    const std::string numbers = processor ? "11-14,20" : "21-25";
    RecordedSim sim(KKM_SIM_PATH,
                    {"--link", processor ? "cpu" : "kia", "--fresh-row", "5", "--row-delay", "300",
                     "--uart-fifo", processor ? "0" : "14"},
                    file("trace.txt"), file("cells.txt"));
    const std::string slave = sim.slavePath(kSimStartTimeout);
    ASSERT_FALSE(slave.empty()) << "kkm-sim did not announce its line";
    const CliRun row =
        RunCli({"commission", "--port", slave, "--numbers", numbers, "--link", processor ? "cpu" : "kia"});
    EXPECT_EQ(row.exitCode, 0) << row.err;
    EXPECT_EQ(row.out.rfind("ККМ 1 из 5: 01 → " + std::string(processor ? "11" : "21") +
                                ", записано и проверено\nККМ 2 из 5: 01 → ",
                            0),
              0u)
        << row.out;
    EXPECT_EQ(CommissionLines(numbers), 5);
    ASSERT_EQ(sim.stop(kSimStopTimeout), 0);
    ExpectRowNumbered(sim, processor ? std::vector<std::uint8_t>{0xEE, 0xED, 0xEC, 0xEB, 0xDF}
                                     : std::vector<std::uint8_t>{0xDE, 0xDD, 0xDC, 0xDB, 0xDA});
  }
}

// Two fresh registers answer together until the second is taken away after
// 2.5 s: no frame goes out before; number 03 belongs to a register already
// on the line and is passed over.
TEST_F(CliRoad, TwoFreshRegistersAtOnceGetNothingAndATakenNumberIsSkipped) {
  RecordedSim sim(KKM_SIM_PATH,
                  {"--fresh-row", "2", "--row-two-at-once", "2500", "--row-delay", "300", "--registers", "3",
                   "--uart-fifo", "0"},
                  file("trace.txt"), file("cells.txt"));
  const std::string slave = sim.slavePath(kSimStartTimeout);
  ASSERT_FALSE(slave.empty()) << "kkm-sim did not announce its line";
  const CliRun row = RunCli({"commission", "--port", slave, "--numbers", "2-4", "--json"});
  EXPECT_EQ(row.exitCode, 0) << row.err;
  EXPECT_NE(row.err.find("Несколько ККМ отвечают на номер 01"), std::string::npos) << row.err;
  EXPECT_NE(row.err.find("Сетевой номер 03 уже занят другой ККМ на этой линии: пропущен."),
            std::string::npos);
  EXPECT_NE(row.out.find(R"({"event":"summary","outcome":"done","numbers":"2-4","registers":[)"),
            std::string::npos)
      << row.out;
  EXPECT_NE(row.out.find(R"("skipped":[3])"), std::string::npos) << row.out;
  ASSERT_EQ(sim.stop(kSimStopTimeout), 0);
  for (const TraceLine& line : ReadTrace(sim.tracePath()))
    if (line.fromHost && line.parity == "space") {
      EXPECT_GE(line.endMs, 2500.0) << "a frame went out while two registers answered at 01";
      break;
    }
  ExpectRowNumbered(sim, {0xFD, 0xFB, 0xFC});
}

// The first register's write is cut at exchange 4 (its first non-volatile
// write goes unanswered): the row stops with the record and the finish
// command; after the finish a second run numbers the rest, 04 not given twice.
TEST_F(CliRoad, ACutWriteStopsTheRowAndAfterTheFinishASecondRunCompletesIt) {
  RecordedSim sim(
      KKM_SIM_PATH,
      {"--fresh-row", "3", "--row-delay", "300", "--uart-fifo", "0", "--fault", "cmd0x17#1:silence"},
      file("trace.txt"), file("cells.txt"));
  const std::string slave = sim.slavePath(kSimStartTimeout);
  ASSERT_FALSE(slave.empty()) << "kkm-sim did not announce its line";
  const CliRun cut = RunCli({"commission", "--port", slave, "--numbers", "4-6"});
  EXPECT_EQ(cut.exitCode, cli::kExitPartlyWritten) << cut.err;
  EXPECT_NE(cut.err.find("kkm-netnum-cli finish --port " + slave + " --link cpu"), std::string::npos)
      << cut.err;
  EXPECT_EQ(RunCli({"commission", "--port", slave, "--numbers", "4-6"}).exitCode, cli::kExitRecordPending);
  const CliRun finished = RunCli({"finish", "--port", slave});
  EXPECT_EQ(finished.exitCode, 0) << finished.err;
  const CliRun rest = RunCli({"commission", "--port", slave, "--numbers", "4-6"});
  EXPECT_EQ(rest.exitCode, 0) << rest.err;
  EXPECT_EQ(rest.out.rfind(
                "ККМ 2 из 3: 01 → 05, записано и проверено\nККМ 3 из 3: 01 → 06, записано и проверено\n", 0),
            0u)
      << rest.out;
  EXPECT_EQ(CommissionLines("4-6"), 3);
  ASSERT_EQ(sim.stop(kSimStopTimeout), 0);
  ExpectRowNumbered(sim, {0xFB, 0xFA, 0xF9});
}

}  // namespace
}  // namespace kkm::e2e
