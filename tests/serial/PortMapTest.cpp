// The port map: what a line says, how editing keeps the rest of the file, and
// the order in which a COM name is resolved.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "serial/PortMap.h"

namespace kkm::serial {
namespace {

constexpr const char* kDevice = "/dev/serial/by-id/usb-FTDI-if00";  // usable everywhere
#ifdef _WIN32
constexpr const char* kDefaultCom2 = "COM2";
void SetVariable(const char* name, const char* value) { _putenv_s(name, value); }
void UnsetVariable(const char* name) { _putenv_s(name, ""); }
#else
constexpr const char* kDefaultCom2 = "/dev/ttyS1";
void SetVariable(const char* name, const char* value) { ::setenv(name, value, 1); }
void UnsetVariable(const char* name) { ::unsetenv(name); }
#endif

// A map as its entries ("COM1=/x") and the lines of its problems ("!2"), in order.
std::string Rendered(const PortMap& map) {
  std::string text;
  for (const PortMapEntry& entry : map.entries) text += " " + entry.port + "=" + entry.device;
  for (const PortMapProblem& problem : map.problems) text += " !" + std::to_string(problem.line);
  return text;
}

TEST(PortMap, EachLineIsAMappingACommentABlankOrAProblemThatIsSkipped) {
  const std::pair<std::string, std::string> rows[] = {
      {"COM1 = /x\n", " COM1=/x"},
      {"COM1=/x", " COM1=/x"},  // no spaces, no final line end
      {"\t COM12 =  /dev/a b  # the adapter\r\n", " COM12=/dev/a b"},
      {"# only a comment\n\n   \n", ""},
      {"COM1 /x\nCOM2 = /x\n", " COM2=/x !1"},  // no '='
      {"COM0 = /x\nCOM256 = /x\ncom1 = /x\nLPT1 = /x", " !1 !2 !3 !4"},
      {"COM3 =\nCOM3 = # nothing\n", " !1 !2"},
      {"COM1 = /x\nCOM1 = /y\n", " COM1=/x !2"},  // the first line stands
      {"COM1 = /x\r\nCOM2 = /y\r\n", " COM1=/x COM2=/y"},
      {"\xEF\xBB\xBF\x43OM1 = /x\n", " COM1=/x"},  // a byte-order mark
#ifndef _WIN32
      {"COM1 = ttyUSB0\n", " !1"},  // not a path
#endif
  };
  for (const auto& [text, shown] : rows) EXPECT_EQ(Rendered(ParsePortMap(text)), shown) << text;
}

// A FIFO, a file over 64 KB, a folder, a link loop: no map; COMn leads only where KKM_COMn does.
TEST(PortMap, AFifoInPlaceOfTheMapIsNoMapAndIsNotWaitedOn) {
  const std::filesystem::path path = PortMapPath();
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << std::string(64 * 1024, '#');
  EXPECT_EQ(ResolvePort("COM1").problem, "") << "64 KB is a map";
  void (*const unreadable[])(const std::filesystem::path&) = {
      [](auto& p) { std::ofstream(p) << std::string(64 * 1024 + 1, '#'); },
      [](auto& p) { std::filesystem::create_directory(p); },
#ifndef _WIN32
      [](auto& p) { mkfifo(p.c_str(), 0600); },
      [](auto& p) { std::filesystem::create_symlink(p, p); },
#endif
  };
  for (const auto make : unreadable) {
    std::filesystem::remove_all(path);
    make(path);
    EXPECT_EQ(ResolvePort("COM1").problem.rfind(path.string() + ": карта портов не прочитана: ", 0), 0u);
  }
  SetVariable("KKM_COM1", kDevice);
  EXPECT_EQ(ResolvePortName("COM1"), kDevice);
  UnsetVariable("KKM_COM1");
}

// Saving replaces the file in one step: another name of the old file keeps its text.
TEST(PortMap, SavingNeverWritesIntoTheOldFile) {
  ASSERT_TRUE(SavePortMap("COM1 = /old\n").ok());
  std::filesystem::create_hard_link(PortMapPath(), PortMapPath() + ".old");
  ASSERT_TRUE(SavePortMap("COM1 = /new\n").ok());
  std::string old;
  EXPECT_TRUE(std::getline(std::ifstream(PortMapPath() + ".old"), old) && old == "COM1 = /old");
}

TEST(PortMap, EditingReplacesOrAddsOneLineAndKeepsEveryOtherLine) {
  const std::string d = kDevice;
  const std::string file = "# ports of this machine\nCOM1 = A # old\nbad line\n\nCOM2 = B\nCOM1 = C\n";
  EXPECT_EQ(MapPortInText(file, "COM1", d),
            "# ports of this machine\nCOM1 = " + d + "\nbad line\n\nCOM2 = B\n");
  EXPECT_EQ(MapPortInText(file, "COM3", d), file + "COM3 = " + d + "\n");
  EXPECT_EQ(MapPortInText("", "COM3", d), "COM3 = " + d + "\n");
  EXPECT_EQ(UnmapPortInText(file, "COM1"), "# ports of this machine\nbad line\n\nCOM2 = B\n");
  EXPECT_EQ(UnmapPortInText(file, "COM9"), file);
  const std::string marked = "\xEF\xBB\xBF" + file;  // the mark stays, the line is found
  EXPECT_EQ(MapPortInText(marked, "COM1", d), "\xEF\xBB\xBF" + MapPortInText(file, "COM1", d));
  EXPECT_EQ(UnmapPortInText(marked, "COM1"), "\xEF\xBB\xBF" + UnmapPortInText(file, "COM1"));
}

TEST(PortMap, TheVariableWinsOverTheMapWhichWinsOverTheDefault) {
  const PortMap map = ParsePortMap(std::string("COM1 = ") + kDevice + "\nCOM3 = " + kDevice + "\n");
  SetVariable("KKM_COM3", "from-variable");
  EXPECT_EQ(ResolvePortName("COM3", map), "from-variable");
  UnsetVariable("KKM_COM3");
  EXPECT_EQ(ResolvePortName("COM3", map), kDevice);
  EXPECT_EQ(ResolvePortName("COM1", map), kDevice);
  EXPECT_EQ(ResolvePortName("COM2", map), kDefaultCom2);
  EXPECT_EQ(ResolvePortName("COM01", map), "COM01") << "not a COM name: taken as it is";
  // A skipped line leaves its port without a device; one naming none, every unmapped port.
  const PortMap bad = ParsePortMap("COM1 = /a\ncom02 = /b\nCOM3 /c\nstray\n");
  EXPECT_EQ(ResolvePortName("COM1", bad), "/a");
  EXPECT_EQ(ResolvePort("COM2", bad).problem.rfind("строка 2: «com02» не имя порта", 0), 0u);
  EXPECT_EQ(ResolvePort("COM3", bad).problem.rfind("строка 3: строка не понята", 0), 0u);
  EXPECT_EQ(ResolvePort("COM4", bad).problem.rfind("строка 4: строка не понята", 0), 0u);
}

}  // namespace
}  // namespace kkm::serial
