#pragma once
// The command line of kkm-sim and the small grammars of its option values.
// Parsing fails with std::invalid_argument carrying a message for the user.

#include <cstdint>
#include <string>
#include <vector>

#include "service/Link.h"
#include "sim/cashreg/CashRegister.h"

namespace kkm::sim::tool {

// The device on the line: a register on its processor link, or a KIA board.
using Link = service::Link;

// Conditions on the KIA board's two-wire bus.
enum class BusFault { DataLow, ClockLow, NoReadDevice, NoWriteDevice };

struct SimOptions {
  Link link = Link::Processor;
  int number = 1;
  std::uint8_t versionD5 = 0x01;  // 1.0.5
  std::uint8_t versionD6 = 0x05;
  std::uint32_t busy = 0;
  std::vector<FaultRule> faults;
  std::vector<BusFault> busFaults;
  std::string tracePath;  // "-": standard error
  std::string linkPath;
  std::string dumpMemoryPath;
  std::string dumpDataPath;
  std::string dumpNonVolatilePath;
  bool exitOnClose = false;
  // The host UART's receive FIFO trigger level (0: bytes handed over one by one).
  unsigned uartFifo = 14;

  // Several registers on one processor-link line, by network number, in place
  // of --number. Each answers its own address; two with one number answer at
  // once and garble each other's echo. The version applies to all; busy
  // answers, faults and the dumps to the first.
  std::vector<int> registers;

  // A row of this many factory-fresh registers at --number, presented one
  // after another (FreshRow.h); 0: none. Registers of --registers share the
  // line with it from the start. Busy answers, faults and the dumps start with
  // the row's first register; the row's others dump to FILE.2, FILE.3, ...,
  // then those of --registers.
  int freshRow = 0;
  std::uint32_t rowDelayMs = 500;
  bool rowPointToPoint = false;      // always on the KIA link
  std::uint32_t rowTwoAtOnceMs = 0;  // 0: one at a time
};

// "A.B.C" or "A.B.C.D", each part a nibble 0..15 written in decimal; missing
// leading parts are 0. The nibbles fill D5 (high, low) and D6 (high, low), so
// "1.0.5" gives 0x01 0x05 and "0.10.0.5" gives 0x0A 0x05.
void ParseVersion(const std::string& text, std::uint8_t& d5, std::uint8_t& d6);

// "EXCHANGE:KIND[=VALUE]". EXCHANGE is N (the register's N-th exchange, from
// 1), "all" (every exchange), or "cmd0xHH[#N]" (the N-th frame carrying that
// command, default the first; #0 every such frame). KIND is one of silence,
// busy, wrong-echo, wrong-ack, no-reply, bad-checksum, short-reply,
// stray-bytes. VALUE: for busy the number of 0x65 answers, for wrong-echo,
// wrong-ack and stray-bytes the bytes to send, hex, comma-separated.
FaultRule ParseFault(const std::string& text);

// data-low, clock-low, no-eeprom-51, no-eeprom-53.
BusFault ParseBusFault(const std::string& text);

// Parses argv. Returns -1 when the simulator should run, otherwise the exit
// code after a help text or an error has been printed.
int ParseCommandLine(int argc, char** argv, SimOptions& options);

}  // namespace kkm::sim::tool
