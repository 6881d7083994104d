// The port map: what a line says, how editing keeps the rest of the file, and
// the order in which a COM name is resolved.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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
#else
constexpr const char* kDefaultCom2 = "/dev/ttyS1";
void SetVariable(const char* name, const char* value) { ::setenv(name, value, 1); }
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
#ifndef _WIN32
      {"COM1 = ttyUSB0\n", " !1"},  // not a path
#endif
  };
  for (const auto& [text, shown] : rows) EXPECT_EQ(Rendered(ParsePortMap(text)), shown) << text;
}

#ifndef _WIN32
TEST(PortMap, AFifoInPlaceOfTheMapIsNoMapAndIsNotWaitedOn) {
  std::filesystem::create_directories(std::filesystem::path(PortMapPath()).parent_path());
  ASSERT_EQ(mkfifo(PortMapPath().c_str(), 0600), 0);
  const PortMap map = LoadPortMap();
  std::filesystem::remove(PortMapPath());
  EXPECT_EQ(Rendered(map), " !0");
}
#endif

TEST(PortMap, EditingReplacesOrAddsOneLineAndKeepsEveryOtherLine) {
  const std::string d = kDevice;
  const std::string file = "# ports of this machine\nCOM1 = A # old\nbad line\n\nCOM2 = B\nCOM1 = C\n";
  EXPECT_EQ(MapPortInText(file, "COM1", d),
            "# ports of this machine\nCOM1 = " + d + "\nbad line\n\nCOM2 = B\n");
  EXPECT_EQ(MapPortInText(file, "COM3", d), file + "COM3 = " + d + "\n");
  EXPECT_EQ(MapPortInText("", "COM3", d), "COM3 = " + d + "\n");
  EXPECT_EQ(UnmapPortInText(file, "COM1"), "# ports of this machine\nbad line\n\nCOM2 = B\n");
  EXPECT_EQ(UnmapPortInText(file, "COM9"), file);
}

TEST(PortMap, TheVariableWinsOverTheMapWhichWinsOverTheDefault) {
  const PortMap map = ParsePortMap(std::string("COM1 = ") + kDevice + "\nCOM3 = " + kDevice + "\n");
  SetVariable("KKM_COM3", "from-variable");
  EXPECT_EQ(ResolvePortName("COM3", map), "from-variable");
  SetVariable("KKM_COM3", "");  // an empty variable counts as unset
  EXPECT_EQ(ResolvePortName("COM3", map), kDevice);
  EXPECT_EQ(ResolvePortName("COM1", map), kDevice);
  EXPECT_EQ(ResolvePortName("COM2", map), kDefaultCom2);
  EXPECT_EQ(ResolvePortName("COM01", map), "COM01") << "not a COM name: taken as it is";
}

}  // namespace
}  // namespace kkm::serial
