// The exchange trace: what a traced exchange writes (bytes with their parity
// and time, the port operations, the outcome), that it matches the line's own
// trace, that nothing is written when the trace is off, how the trace is
// asked for, and what a path that cannot be written does.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "register/MemoryCommands.h"
#include "serial/SerialLine.h"
#include "serial/Trace.h"
#include "serial/TracingPort.h"
#include "sim/cashreg/CashRegister.h"
#include "sim/line/VirtualLine.h"
#include "sim/line/VirtualPlatform.h"
#include "sim/pty/PtyServer.h"
#include "tests/support/Facts.h"
#include "tests/support/TraceRig.h"

namespace kkm::test {
namespace {

using sim::CashRegister;
using sim::RegisterFault;

constexpr std::uint8_t kLine = 0xFE;
constexpr std::uint16_t kCopy = test::kLineAddressAddress;

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

// The part of a byte line after its time.
std::string Event(const std::string& line) { return line.substr(serial::FormatTraceTime(0).size() + 1); }

// A register on a virtual line, opened as COM1 through the tracing platform.
struct TracedRig {
  TracedRig() {
    platform.addPort("COM1", line);
    line.attach(reg);
  }
  sim::VirtualLine line;
  sim::VirtualPlatform platform{line};
  CashRegister reg{1};
  MemoryTrace trace{line};
  serial::TracingPlatform traced{platform, trace.sink(), "kkm-netnum"};
  serial::PortHandle port{platform.clock()};
};

TEST(TracedExchange, ShowsEveryByteWithItsParityAsTheLineCarriedItAndTheOutcome) {
  TracedRig rig;
  ASSERT_TRUE(serial::OpenComPort(rig.traced, 1, rig.port));
  rig.line.clearTrace();
  ASSERT_TRUE(reg::WriteRegisterByte(rig.port, kLine, kCopy, 0xBA));
  const std::vector<std::string> lines = rig.trace.lines();

  // 1. The header of the section.
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], std::string("# kkm-netnum ") + serial::ProgramVersion() + " exchange trace");
  EXPECT_EQ(lines[1].rfind("# platform: ", 0), 0u);
  EXPECT_EQ(lines[2], "# port: COM1 = COM1");
  EXPECT_EQ(lines[3].rfind("# time of day: ", 0), 0u);

  // 2. The bytes: those the line carried, in order, with the same parity;
  // host bytes at the very moment their stop bit ended, device bytes as soon
  // as the host's next poll saw them (polls are 0.1 ms apart).
  const std::vector<std::string> bytes = ByteLines(lines);
  const std::vector<sim::TraceEntry>& wire = rig.line.trace();
  ASSERT_EQ(bytes.size(), wire.size()) << rig.trace.text();
  ASSERT_EQ(wire.size(), 1u + 1 + 7 + 1);  // address, echo, frame, acknowledgement
  for (std::size_t i = 0; i < wire.size(); ++i) {
    const std::string expected = sim::FormatTraceEntry(wire[i]);
    EXPECT_EQ(Event(bytes[i]), Event(expected)) << i;
    const double late = LineMs(bytes[i]) - LineMs(expected);
    if (wire[i].direction == sim::Direction::HostToDevice)
      EXPECT_EQ(late, 0.0) << bytes[i] << " / " << expected;
    else
      EXPECT_TRUE(late >= 0.0 && late <= 0.101) << bytes[i] << " / " << expected;
  }
  EXPECT_EQ(Event(bytes.front()), "host>dev FE mark");
  EXPECT_EQ(Event(bytes.back()), "dev>host 29");  // the acknowledgement: the frame's checksum

  // 3. The port operations around them and one summary line at the end.
  EXPECT_TRUE(Contains(lines, " purge 0C"));
  EXPECT_TRUE(Contains(lines, " parity mark"));
  EXPECT_TRUE(Contains(lines, " parity space"));
  EXPECT_TRUE(Contains(lines, " wait 1 byte(s) up to 500 ms: 1 queued after "));
  EXPECT_TRUE(Contains(lines, " wait 1 byte(s) up to 700 ms: 1 queued after "));
  EXPECT_NE(lines.back().find(" = WriteRegisterByte FE 020F BA: ok in "), std::string::npos) << lines.back();
}

TEST(TracedExchange, EndsAFailureWithItsReason) {
  TracedRig rig;
  rig.reg.faultOnCommand(0x05, RegisterFault::Silent);
  ASSERT_TRUE(serial::OpenComPort(rig.traced, 1, rig.port));
  EXPECT_FALSE(reg::WriteRegisterByte(rig.port, kLine, kCopy, 0xBA));
  const std::vector<std::string> lines = rig.trace.lines();
  EXPECT_TRUE(Contains(lines, " wait 1 byte(s) up to 700 ms: 0 queued after 701 ms, timed out"));
  const std::string summary = lines.back();
  EXPECT_NE(summary.find(" = WriteRegisterByte FE 020F BA: failed no-ack: подтверждение "), std::string::npos)
      << summary;
  // The whole operation: the address byte and its echo, the frame leaving the
  // line (a write lasts until its bytes are out), then the 700 ms wait.
  EXPECT_NE(summary.find(" не пришло за 700 мс in 71"), std::string::npos) << summary;
}

// Times are milliseconds since the section began, three decimals, aligned.
TEST(TraceTime, IsMillisecondsWithThreeDecimals) {
  EXPECT_EQ(serial::FormatTraceTime(0), "         0.000");
  EXPECT_EQ(serial::FormatTraceTime(1'146'000), "         1.146");
  EXPECT_EQ(serial::FormatTraceTime(2'560'123'456), "      2560.123");
}

TEST(TraceOff, NoDecoratorNoFileNothingWritten) {
  // No option, no variable: no path, no sink, and not a word on standard error.
  std::vector<std::string> args{"kkm-netnum", "-style", "fusion"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int argc = 3;
  const std::string path = serial::TakeTracePath(argc, argv.data(), nullptr);
  EXPECT_EQ(path, "");
  EXPECT_EQ(argc, 3);
  ::testing::internal::CaptureStderr();
  std::unique_ptr<serial::TraceSink> sink = serial::OpenTraceOrWarn(path, stderr, "kkm-netnum");
  EXPECT_EQ(sink, nullptr);

  // The platform is the native one itself, so ports are not decorated, and a
  // whole exchange leaves nothing anywhere.
  sim::VirtualLine line;
  CashRegister reg{1};
  line.attach(reg);
  auto virtualPlatform = std::make_unique<sim::VirtualPlatform>(line);
  virtualPlatform->addPort("COM1", line);
  serial::Platform* plain = virtualPlatform.get();
  const std::unique_ptr<serial::Platform> platform =
      serial::WithTrace(std::move(virtualPlatform), nullptr, "x");
  EXPECT_EQ(platform.get(), plain);
  serial::PortHandle port{platform->clock()};
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(serial::OpenComPort(*platform, 1, port));
  EXPECT_EQ(port.traceSink(), nullptr);
  EXPECT_TRUE(reg::WriteRegisterByte(port, kLine, kCopy, 0xBA));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// --trace FILE and --trace=FILE win over the variable and leave the command
// line; "-" is standard error; everything else on the command line stays.
TEST(TracePath, OptionWinsOverTheVariableAndLeavesTheCommandLine) {
  struct Case {
    std::vector<std::string> args;
    const char* environment;
    std::string path;
    std::vector<std::string> rest;
  };
  const Case cases[] = {
      {{"p"}, "/tmp/env.txt", "/tmp/env.txt", {"p"}},
      {{"p", "--trace", "/tmp/a.txt"}, "/tmp/env.txt", "/tmp/a.txt", {"p"}},
      {{"p", "-platform", "offscreen", "--trace=-", "x"}, nullptr, "-", {"p", "-platform", "offscreen", "x"}},
      {{"p", "--trace"}, "/tmp/env.txt", "/tmp/env.txt", {"p", "--trace"}},
      {{"p", "--tracer", "x"}, "", "", {"p", "--tracer", "x"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    EXPECT_EQ(serial::TakeTracePath(argc, argv.data(), c.environment), c.path) << c.args.back();
    std::vector<std::string> rest(argv.begin(), argv.begin() + argc);
    EXPECT_EQ(rest, c.rest);
    EXPECT_EQ(argv[argc], nullptr);
  }
}

class TraceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kkm-trace-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + folder_ + "'").c_str()); }
  std::string file(const std::string& name) const { return folder_ + "/" + name; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string folder_;
};

// Appended, and on disk after every operation (a crash loses nothing).
TEST_F(TraceFile, IsAppendedAndFlushedAfterEveryOperation) {
  { std::ofstream(file("t.txt")) << "kept\n"; }
  sim::VirtualLine line;
  CashRegister reg{1};
  line.attach(reg);
  sim::VirtualPlatform platform{line};
  platform.addPort("COM1", line);
  auto sink = serial::TraceSink::Open(file("t.txt"), "kkm-netnum").sink;
  ASSERT_NE(sink, nullptr);
  serial::TracingPlatform traced{platform, *sink, "kkm-netnum"};
  serial::PortHandle port{platform.clock()};
  ASSERT_TRUE(serial::OpenComPort(traced, 1, port));
  ASSERT_TRUE(reg::WriteRegisterByte(port, kLine, kCopy, 0xBA));
  const std::string text = Read(file("t.txt"));  // the sink is still open
  EXPECT_EQ(text.rfind("kept\n# kkm-netnum ", 0), 0u) << text;
  EXPECT_NE(text.find(" = WriteRegisterByte FE 020F BA: ok in "), std::string::npos) << text;
}

// A path that cannot be written: one line on standard error, no trace.
TEST_F(TraceFile, BadPathGivesOneLineAndNoTrace) {
  { std::ofstream(file("read-only.txt")) << ""; }
  chmod(file("read-only.txt").c_str(), 0444);
  ASSERT_EQ(mkfifo(file("fifo").c_str(), 0600), 0);  // nobody reads it: refused, never waited on
  // A terminal (a serial port, the register's own even) or another device.
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_TRUE(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
  const std::string paths[] = {folder_,      file("no/such/folder.txt"), file("read-only.txt"),
                               file("fifo"), ptsname(terminal),          "/dev/null"};
  for (const std::string& path : paths) {
    if (path == file("read-only.txt") && geteuid() == 0) continue;  // root writes anyway
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(serial::OpenTraceOrWarn(path, stderr, "kkm-netnum"), nullptr) << path;
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.rfind("kkm-netnum: трасса не будет записана, работа идёт без неё: ", 0), 0u) << errors;
    EXPECT_NE(errors.find(path), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  }
  ::close(terminal);
  // A device that refuses every write: one line when it first does, then nothing.
  const auto full = serial::TraceSink::Open("/dev/full", "kkm-netnum").sink;
  ASSERT_NE(full, nullptr);
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    full->event("byte");
    full->flush();
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "kkm-netnum: запись трассы в /dev/full прервана, работа идёт без неё: No space left on device\n");
}

#ifdef KKM_NETNUM_PATH
// The program itself with a folder as its trace: the line on standard error,
// and the program runs on (it is still running a second later, on the
// offscreen platform, until it is stopped).
TEST_F(TraceFile, ProgramWithABadPathRunsOnWithoutATrace) {
  int errors[2];
  ASSERT_EQ(pipe(errors), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(errors[1], STDERR_FILENO);
    ::close(errors[0]);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("KKM_TRACE", file("from-the-variable.txt").c_str(), 1);
    execl(KKM_NETNUM_PATH, KKM_NETNUM_PATH, "--trace", folder_.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(errors[1]);
  std::FILE* in = fdopen(errors[0], "r");
  char line[512] = {};
  ASSERT_NE(std::fgets(line, sizeof line, in), nullptr);
  EXPECT_EQ(std::string(line),
            "kkm-netnum: трасса не будет записана, работа идёт без неё: не удалось открыть " + folder_ +
                ": Is a directory\n");
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 20 && ended == 0; ++i) {
    usleep(50'000);
    ended = waitpid(child, &status, WNOHANG);
  }
  EXPECT_EQ(ended, 0) << "the program ended with status " << status;
  if (ended == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  std::fclose(in);
  // The option won: the variable's file was not made either.
  EXPECT_FALSE(std::ifstream(file("from-the-variable.txt")).good());
}
#endif

}  // namespace
}  // namespace kkm::test
