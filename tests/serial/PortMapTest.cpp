// The port map: what a line says, how editing keeps the rest of the file, and
// the order in which a COM name is resolved.

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "serial/PortMap.h"

namespace kkm::serial {
namespace {

#ifdef _WIN32
constexpr const char* kDevice = "COM7";
constexpr const char* kDefaultCom2 = "COM2";
void SetVariable(const char* name, const char* value) { _putenv_s(name, value); }
#else
constexpr const char* kDevice = "/dev/serial/by-id/usb-FTDI-if00";
constexpr const char* kDefaultCom2 = "/dev/ttyS1";
void SetVariable(const char* name, const char* value) { ::setenv(name, value, 1); }
#endif

using Mapping = std::pair<std::string, std::string>;

struct ParseRow {
  std::string text;
  std::vector<Mapping> entries;
  std::vector<int> problemLines;
};

TEST(PortMap, EachLineIsAMappingACommentABlankOrAProblemThatIsSkipped) {
  const std::string d = kDevice;
  const ParseRow rows[] = {
      {"COM1 = " + d + "\n", {{"COM1", d}}, {}},
      {"COM1=" + d, {{"COM1", d}}, {}},  // no spaces, no final line end
      {"\t COM12 =  " + d + "  # the adapter\r\n", {{"COM12", d}}, {}},
      {"# only a comment\n\n   \n", {}, {}},
      {"COM1 " + d + "\nCOM2 = " + d + "\n", {{"COM2", d}}, {1}},  // no '='
      {"COM0 = " + d + "\nCOM256 = " + d + "\ncom1 = " + d + "\nLPT1 = " + d, {}, {1, 2, 3, 4}},
      {"COM3 =\nCOM3 = # nothing\n", {}, {1, 2}},
      {"COM1 = " + d + "\nCOM1 = " + d + "x\n", {{"COM1", d}}, {2}},  // the first line stands
#ifndef _WIN32
      {"COM1 = ttyUSB0\n", {}, {1}},  // not a path
#endif
  };
  for (const ParseRow& row : rows) {
    const PortMap map = ParsePortMap(row.text);
    std::vector<Mapping> entries;
    std::vector<int> lines;
    for (const PortMapEntry& entry : map.entries) entries.emplace_back(entry.port, entry.device);
    for (const PortMapProblem& problem : map.problems) lines.push_back(problem.line);
    EXPECT_EQ(entries, row.entries) << row.text;
    EXPECT_EQ(lines, row.problemLines) << row.text;
  }
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
