#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "memmap/MemoryMap.h"

namespace kkm::memmap {
namespace {

// No table holds this value, so after a load on a map filled with it every
// entry that still shows it is one the table does not write.
constexpr std::uint16_t kUntouched = 0xFFFF;

MemoryMap FilledMap() {
  MemoryMap map;
  map.entries.fill(kUntouched);
  return map;
}

std::vector<std::size_t> WrittenEntries(std::uint8_t versionCharacter) {
  MemoryMap map = FilledMap();
  LoadMemoryMap(map, versionCharacter);
  std::vector<std::size_t> written;
  for (std::size_t i = 0; i < kMemoryMapEntries; ++i)
    if (map.entries[i] != kUntouched) written.push_back(i);
  return written;
}

std::vector<std::size_t> Range(std::size_t first, std::size_t last, std::size_t skipped = kMemoryMapEntries) {
  std::vector<std::size_t> indices;
  for (std::size_t i = first; i <= last; ++i)
    if (i != skipped) indices.push_back(i);
  return indices;
}

TEST(MemoryMap, FreshMapReadsZeroAndVersion105FillsTheTwoAddresses) {
  MemoryMap map;
  EXPECT_EQ(map.entries, decltype(map.entries){});
  EXPECT_EQ(map.ProbeAddress(), 0);
  EXPECT_EQ(map.NetworkNumberAddress(), 0);
  LoadMemoryMap(map, 'i');
  EXPECT_EQ(map.ProbeAddress(), 0x77AD);
  EXPECT_EQ(map.NetworkNumberAddress(), 0x1140);
  EXPECT_EQ(map.entries[288], 0);
}

TEST(MemoryMap, EachTableWritesExactlyItsEntries) {
  for (char version : {'d', 'e', 'f', 'g'}) EXPECT_EQ(WrittenEntries(version), Range(0, 393)) << version;
  EXPECT_EQ(WrittenEntries('h'), Range(0, 525));
  EXPECT_EQ(WrittenEntries('i'), Range(0, 529, 288));
}

// The rows that tell the tables apart; kUntouched marks an entry the table
// does not write.
struct TellingRow {
  std::size_t index;
  std::uint16_t table100To103;
  std::uint16_t table104;
  std::uint16_t table105;
};

constexpr TellingRow kTellingRows[] = {
    {0, 0x77AD, 0x77AD, 0x77AD},           {11, 0x2D3B, 0x2DDB, 0x2DDB},
    {253, 0x2D83, 0x7A80, 0x7A80},         {288, 0x1140, 0x1140, kUntouched},
    {380, 0x020F, 0x020F, 0x020F},         {393, 0x0001, 0x0001, 0x0001},
    {525, kUntouched, 0x2E72, 0x2E72},     {526, kUntouched, kUntouched, 0x1140},
    {527, kUntouched, kUntouched, 0x7BC6}, {528, kUntouched, kUntouched, 0x2E6F},
    {529, kUntouched, kUntouched, 0x2E70},
};

TEST(MemoryMap, TellingRows) {
  MemoryMap old = FilledMap(), v104 = FilledMap(), v105 = FilledMap();
  LoadMemoryMap(old, 'e');
  LoadMemoryMap(v104, 'h');
  LoadMemoryMap(v105, 'i');
  for (const TellingRow& row : kTellingRows) {
    EXPECT_EQ(old.entries[row.index], row.table100To103) << "entry " << row.index;
    EXPECT_EQ(v104.entries[row.index], row.table104) << "entry " << row.index;
    EXPECT_EQ(v105.entries[row.index], row.table105) << "entry " << row.index;
  }
}

TEST(MemoryMap, Version104AfterVersion105KeepsTheNewEntries) {
  MemoryMap map;
  LoadMemoryMap(map, 'i');
  LoadMemoryMap(map, 'h');
  EXPECT_EQ(map.entries[288], 0x1140);
  EXPECT_EQ(map.NetworkNumberAddress(), 0x1140);
  EXPECT_EQ(map.entries[527], 0x7BC6);
  EXPECT_EQ(map.entries[528], 0x2E6F);
  EXPECT_EQ(map.entries[529], 0x2E70);
}

TEST(MemoryMap, VersionsDToGLoadTheSameTable) {
  MemoryMap d = FilledMap();
  LoadMemoryMap(d, 'd');
  for (char version : {'e', 'f', 'g'}) {
    MemoryMap other = FilledMap();
    LoadMemoryMap(other, static_cast<std::uint8_t>(version));
    EXPECT_EQ(other.entries, d.entries) << version;
  }
}

TEST(MemoryMap, UnknownVersionsChangeNothing) {
  MemoryMap loaded;
  LoadMemoryMap(loaded, 'i');
  for (std::uint8_t version :
       {std::uint8_t{'c'}, std::uint8_t{'j'}, std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
    for (MemoryMap before : {MemoryMap{}, FilledMap(), loaded}) {
      MemoryMap map = before;
      LoadMemoryMap(map, version);
      EXPECT_EQ(map.entries, before.entries) << int{version};
    }
  }
}

TEST(MemoryMap, LoadingTwiceGivesTheSameMap) {
  MemoryMap once = FilledMap();
  LoadMemoryMap(once, 'i');
  MemoryMap twice = once;
  LoadMemoryMap(twice, 'i');
  EXPECT_EQ(twice.entries, once.entries);
}

}  // namespace
}  // namespace kkm::memmap
