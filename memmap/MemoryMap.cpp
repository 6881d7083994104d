#include "memmap/MemoryMap.h"

#include <optional>
#include <span>

namespace kkm::memmap {
namespace {

// A table writes every entry from `first` to `last` except `skipped`: the
// entries listed in `values` with their address, all others with 0. Entries
// outside that range are not written and keep what they hold.
struct KnownValue {
  std::size_t index;
  std::uint16_t value;
};

struct Table {
  std::size_t first;
  std::size_t last;
  std::optional<std::size_t> skipped;
  std::span<const KnownValue> values;
};

constexpr std::size_t kNetworkNumberOldIndex = 288;  // where versions 100-104 keep 0x1140
constexpr std::uint16_t kNetworkNumberByteAddress = 0x1140;

constexpr KnownValue kValues100To103[] = {
    {0, 0x77AD},   {11, 0x2D3B},  {253, 0x2D83}, {kNetworkNumberOldIndex, kNetworkNumberByteAddress},
    {380, 0x020F}, {393, 0x0001},
};

constexpr KnownValue kValues104[] = {
    {0, 0x77AD},   {11, 0x2DDB},  {253, 0x7A80}, {kNetworkNumberOldIndex, kNetworkNumberByteAddress},
    {380, 0x020F}, {393, 0x0001}, {525, 0x2E72},
};

// Version 105 keeps the values of 104, moves the network number byte's
// address to its own entry and adds three more.
constexpr KnownValue kValues105[] = {
    {0, 0x77AD},
    {11, 0x2DDB},
    {253, 0x7A80},
    {380, 0x020F},
    {393, 0x0001},
    {525, 0x2E72},
    {kNetworkNumberAddressIndex, kNetworkNumberByteAddress},
    {527, 0x7BC6},
    {528, 0x2E6F},
    {529, 0x2E70},
};

constexpr Table kTable100To103{0, 393, std::nullopt, kValues100To103};
constexpr Table kTable104{0, 525, std::nullopt, kValues104};
constexpr Table kTable105{0, kMemoryMapEntries - 1, kNetworkNumberOldIndex, kValues105};

// Each known value lies in the entries its table writes.
constexpr bool ValuesInsideTable(const Table& table) {
  for (const KnownValue& known : table.values)
    if (known.index < table.first || known.index > table.last || known.index == table.skipped) return false;
  return table.last < kMemoryMapEntries;
}
static_assert(ValuesInsideTable(kTable100To103) && ValuesInsideTable(kTable104) &&
              ValuesInsideTable(kTable105));

const Table* TableFor(std::uint8_t versionCharacter) {
  switch (versionCharacter) {
    case 'd':
    case 'e':
    case 'f':
    case 'g':
      return &kTable100To103;
    case 'h':
      return &kTable104;
    case 'i':
      return &kTable105;
    default:
      return nullptr;
  }
}

}  // namespace

void LoadMemoryMap(MemoryMap& map, std::uint8_t versionCharacter) {
  // 1. Pick the table; an unknown version loads nothing.
  const Table* table = TableFor(versionCharacter);
  if (table == nullptr) return;
  // 2. Every entry the table writes starts at 0 ...
  for (std::size_t index = table->first; index <= table->last; ++index)
    if (index != table->skipped) map.entries[index] = 0;
  // 3. ... and the known ones get their address.
  for (const KnownValue& known : table->values) map.entries[known.index] = known.value;
}

}  // namespace kkm::memmap
