// kkm-sim: its option grammar, and the program driven as a test drives it
// (path on stdout, exchanges on the slave, a signal or a close, and the dump
// and trace it leaves behind). The program runs in real time.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/PtyHost.h"
#include "tests/support/SimChild.h"
#include "tools/kkm-sim/SimOptions.h"

namespace kkm::sim::tool {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ReadFile;

// Parses a command line as main() does: -1 to run, else the exit code.
int Parse(std::vector<std::string> args, SimOptions& options) {
  args.insert(args.begin(), "kkm-sim");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return ParseCommandLine(static_cast<int>(args.size()), argv.data(), options);
}

// --firmware sets the register's version bytes; --version is the program's own.
TEST(SimOptions, FirmwareSetsTheVersionBytesAndVersionNamesTheProgram) {
  SimOptions options;
  ASSERT_EQ(Parse({"--firmware", "1.0.6"}, options), -1);
  EXPECT_EQ(options.versionD5, 0x01);
  EXPECT_EQ(options.versionD6, 0x06);

  SimOptions untouched;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"--version"}, untouched), 0);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(printed.starts_with("kkm-sim ") && printed.ends_with("\n")) << printed;
  EXPECT_EQ(untouched.versionD6, 0x05);

  testing::internal::CaptureStderr();
  EXPECT_NE(Parse({"--firmware", "1.0.16"}, options), -1);
  testing::internal::GetCapturedStderr();
}

TEST(SimOptions, VersionPartsFillTheNibblesOfD5AndD6) {
  std::uint8_t d5 = 0, d6 = 0;
  ParseVersion("1.0.5", d5, d6);
  EXPECT_EQ((Bytes{d5, d6}), (Bytes{0x01, 0x05}));
  ParseVersion("0.10.0.5", d5, d6);
  EXPECT_EQ((Bytes{d5, d6}), (Bytes{0x0A, 0x05}));
  for (const char* bad : {"105", "1.0", "1.0.16", "1..5", "1.0.5.0.0", "1.0.-1"})
    EXPECT_THROW(ParseVersion(bad, d5, d6), std::invalid_argument) << bad;
}

TEST(SimOptions, SeveralRegistersComeCommaSeparatedOrRepeated) {
  SimOptions options;
  const char* argv[] = {"kkm-sim", "--registers", "1,5", "--registers", "17", "--registers", "5"};
  ASSERT_EQ(ParseCommandLine(7, const_cast<char**>(argv), options), -1);
  EXPECT_EQ(options.registers, (std::vector<int>{1, 5, 17, 5}));
}

TEST(SimOptions, FaultsChooseTheirExchangeKindAndValue) {
  FaultRule rule = ParseFault("3:silence");
  EXPECT_EQ(rule.fault, RegisterFault::Silent);
  EXPECT_EQ(rule.exchange, 3u);
  EXPECT_EQ(rule.times, 1u);

  rule = ParseFault("all:busy=4");
  EXPECT_EQ(rule.fault, RegisterFault::Busy);
  EXPECT_EQ(rule.exchange, 0u);
  EXPECT_EQ(rule.times, 0u) << "every exchange";
  EXPECT_EQ(rule.count, 4u);

  rule = ParseFault("cmd0x17#2:stray-bytes=00,55,aa");
  EXPECT_EQ(rule.fault, RegisterFault::StrayBytes);
  EXPECT_EQ(rule.command, std::optional<std::uint8_t>(0x17));
  EXPECT_EQ(rule.occurrence, 2u);
  EXPECT_EQ(rule.bytes, (Bytes{0x00, 0x55, 0xAA}));
  EXPECT_EQ(ParseFault("cmd0x06#0:wrong-ack").times, 0u) << "every frame of the command";

  for (const char* bad : {"silence", "0:silence", "3:loud", "3:silence=1", "cmd0x100:silence",
                          "2:wrong-ack=1FF", "2:stray-bytes=00,,01", "-1:silence"})
    EXPECT_THROW(ParseFault(bad), std::invalid_argument) << bad;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// kkm-sim started with its stdout on a pipe; killed at the end if still running.
test::SimChild Sim(std::vector<std::string> args, std::string stderrPath = {}) {
  return test::SimChild(KKM_SIM_PATH, std::move(args), {.stderrPath = std::move(stderrPath)});
}

class SimToolRun : public testing::Test {
 protected:
  static std::string File(const std::string& name) {
    return testing::TempDir() + "kkm-sim-" + std::to_string(getpid()) + "-" + name;
  }
  void TearDown() override {
    for (const char* name : {"link", "cells", "data", "trace", "stderr"}) std::remove(File(name).c_str());
  }
};

TEST_F(SimToolRun, ServesTheRegisterAndLeavesItsMemoryBehindOnSigterm) {
  test::SimChild sim = Sim({"--number", "45", "--link-path", File("link"), "--dump-memory", File("cells"),
                            "--dump-data", File("data"), "--trace", File("trace")});
  ASSERT_FALSE(sim.slavePath().empty());
  PtyHost host(File("link"));
  ASSERT_TRUE(host.open());

  // Network number 45 answers to 0xBA; then 0x88 (number 77) goes into 0x1140.
  host.setParity(serial::Parity::Mark);
  EXPECT_EQ(host.exchange({0xBA}, 1), Bytes{0xBA});
  host.setParity(serial::Parity::Space);
  EXPECT_EQ(host.exchange({0x05, 0x05, 0x40, 0x11, 0x01, 0x88, 0x1B}, 1), Bytes{0x1B});
  host.close();

  sim.signal(SIGTERM);
  EXPECT_EQ(sim.wait(), 0);
  EXPECT_FALSE(Exists(File("link"))) << "the symlink is removed";
  // The stored copy and its checksum (the block holds nothing else) are untouched.
  EXPECT_EQ(ReadFile(File("cells")), "0x1140=88\n0x020F=BA\n0x073E=BA\n0x0740=BA\n");
  const std::string data = ReadFile(File("data"));
  ASSERT_EQ(data.size(), 65536u);
  EXPECT_EQ(static_cast<std::uint8_t>(data[0x1140]), 0x88);
  const std::string trace = ReadFile(File("trace"));
  EXPECT_NE(trace.find(" host>dev BA mark\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find(" dev>host BA\n"), std::string::npos) << trace;
  EXPECT_EQ(trace.rfind("# kkm-sim ", 0), 0u) << "the header comes first: " << trace;
}

TEST_F(SimToolRun, AnswersThroughTheKiaBoardAndEndsWhenTheHostCloses) {
  test::SimChild sim = Sim({"--link", "kia", "--number", "1", "--exit-on-close"});
  PtyHost host(sim.slavePath());
  ASSERT_TRUE(host.open());
  // The memory read frame for 0x1140: acknowledgement 0x01, then number 1's 0xFE.
  const Bytes readFrame{0x00, 0x01, 0x75, 0x83, 0x11, 0x75, 0x82, 0x40, 0xE0, 0xC2,
                        0x99, 0xF5, 0x99, 0x30, 0x99, 0xFD, 0x22, 0x00, 0x00, 0xF2};
  EXPECT_EQ(host.exchange(readFrame, 2), (Bytes{0x01, 0xFE}));
  host.close();
  EXPECT_EQ(sim.wait(), 0);
}

TEST_F(SimToolRun, RefusesBadOptionsAndAFileInPlaceOfTheLink) {
  EXPECT_NE(Sim({"--number", "100"}).wait(), 0);
  EXPECT_NE(Sim({"--link", "kia", "--fault", "1:silence"}).wait(), 0);
  EXPECT_NE(Sim({"--registers", "1,100"}).wait(), 0);
  EXPECT_NE(Sim({"--registers", "1,5", "--link", "kia"}).wait(), 0);
  EXPECT_NE(Sim({"--registers", "1,5", "--number", "3"}).wait(), 0);
  std::fclose(std::fopen(File("cells").c_str(), "w"));
  EXPECT_NE(Sim({"--link-path", File("cells")}).wait(), 0);
  EXPECT_TRUE(Exists(File("cells")));
  // A symlink that still leads somewhere is refused like the file it names.
  ASSERT_EQ(symlink(File("cells").c_str(), File("link").c_str()), 0);
  EXPECT_NE(Sim({"--link-path", File("link")}).wait(), 0);
  char target[512] = {};
  ASSERT_GT(readlink(File("link").c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), File("cells"));
}

// A trace that cannot be written is said at once on stderr and the program
// ends, rather than hanging on a FIFO nobody reads or running untraced.
TEST_F(SimToolRun, RefusesATraceItCannotWrite) {
  ASSERT_EQ(mkfifo(File("trace").c_str(), 0600), 0);
  for (const std::string& path : {File("trace"), std::string("/dev/full"), File("no-such-folder/trace")}) {
    const auto started = std::chrono::steady_clock::now();
    test::SimChild sim = Sim({"--trace", path}, File("stderr"));
    EXPECT_NE(sim.wait(), 0) << path;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3)) << path;
    const std::string said = ReadFile(File("stderr"));
    EXPECT_NE(said.find("kkm-sim: cannot write the trace to " + path), std::string::npos) << said;
    if (path == File("trace")) {
      EXPECT_NE(said.find("a FIFO with no reader"), std::string::npos) << said;
    }
  }
}

}  // namespace
}  // namespace kkm::sim::tool
