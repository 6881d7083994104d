// The 8051 core instruction family by instruction family: results, flags,
// cycle counts, and the port and UART behaviour the board relies on.

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <utility>
#include <vector>

#include "sim/kia/Cpu8051.h"

namespace kkm::sim::kia {
namespace {

constexpr std::uint8_t kMovAImm = 0x74, kSetbC = 0xD3, kClrC = 0xC3;

class CpuTest : public ::testing::Test, public CpuSurroundings {
 protected:
  std::uint8_t readExternal(std::uint16_t address) override { return xdata[address]; }
  void writeExternal(std::uint16_t address, std::uint8_t value) override { xdata[address] = value; }
  void serialTransmit(std::uint8_t byte) override { sent.emplace_back(byte, cpu.cycles()); }
  void portLatchChanged(unsigned port, std::uint8_t latch) override { latches.emplace_back(port, latch); }

  // Puts `program` at `origin`, starts there and runs until the PC leaves
  // the program's bytes (or `maxSteps` instructions); returns the cycles.
  std::uint64_t run(const std::vector<std::uint8_t>& program, std::uint16_t origin = 0, int maxSteps = 1000) {
    std::copy(program.begin(), program.end(), cpu.code().begin() + origin);
    cpu.setPc(origin);
    const std::uint64_t start = cpu.cycles();
    for (int i = 0; i < maxSteps && cpu.pc() >= origin && cpu.pc() < origin + program.size(); ++i) cpu.step();
    return cpu.cycles() - start;
  }
  bool flag(std::uint8_t mask) const { return (cpu.psw() & mask) != 0; }

  std::vector<std::uint8_t> xdata = std::vector<std::uint8_t>(65536);
  std::vector<std::pair<std::uint8_t, std::uint64_t>> sent;
  std::vector<std::pair<unsigned, std::uint8_t>> latches;
  Cpu8051 cpu{*this};
};

// ---- Results in the accumulator, with flags ----

constexpr std::uint8_t kCy = psw::kCy, kAc = psw::kAc, kOv = psw::kOv, kAll = kCy | kAc | kOv;

struct AccCase {
  const char* what;
  std::vector<std::uint8_t> program;
  std::uint8_t a;
  std::uint8_t flags;  // expected values of the flags in `checked`
  std::uint8_t checked;
};

TEST_F(CpuTest, InstructionFamiliesLeaveTheirResultAndFlags) {
  const AccCase cases[] = {
      // MOV A,#x; [SETB C]; ADD/ADDC/SUBB A,#y
      {"ADD ignores CY", {0x74, 0x12, 0xD3, 0x24, 0x34}, 0x46, 0, kAll},
      {"ADD carries out of bit 3", {0x74, 0x0F, 0x24, 0x01}, 0x10, kAc, kAll},
      {"ADD 127 + 1 overflows", {0x74, 0x7F, 0x24, 0x01}, 0x80, kAc | kOv, kAll},
      {"ADD -128 + -128", {0x74, 0x80, 0x24, 0x80}, 0x00, kCy | kOv, kAll},
      {"ADD -1 + 1", {0x74, 0xFF, 0x24, 0x01}, 0x00, kCy | kAc, kAll},
      {"ADDC adds CY", {0x74, 0xFE, 0xD3, 0x34, 0x01}, 0x00, kCy | kAc, kAll},
      {"ADDC 63 + 64 + 1 overflows", {0x74, 0x3F, 0xD3, 0x34, 0x40}, 0x80, kAc | kOv, kAll},
      {"SUBB borrows", {0x74, 0x00, 0x94, 0x01}, 0xFF, kCy | kAc, kAll},
      {"SUBB -128 - 1 overflows", {0x74, 0x80, 0x94, 0x01}, 0x7F, kAc | kOv, kAll},
      {"SUBB 127 - -1 overflows", {0x74, 0x7F, 0x94, 0xFF}, 0x80, kCy | kOv, kAll},
      {"SUBB subtracts CY", {0x74, 0x50, 0xD3, 0x94, 0x20}, 0x2F, kAc, kAll},
      // MOV A,#x; ADD A,#y; DA A
      {"DA after AC", {0x74, 0x19, 0x24, 0x28, 0xD4}, 0x47, 0, kCy},
      {"DA low digit above 9", {0x74, 0x09, 0x24, 0x01, 0xD4}, 0x10, 0, kCy},
      {"DA carries through both digits", {0x74, 0x99, 0x24, 0x01, 0xD4}, 0x00, kCy, kCy},
      {"DA both digits above 9", {0x74, 0x56, 0x24, 0x67, 0xD4}, 0x23, kCy, kCy},
      {"DA after CY", {0x74, 0x80, 0x24, 0x80, 0xD4}, 0x60, kCy, kCy},
      // MOV A,#a; MOV B,#b; SETB C; MUL/DIV AB; [XCH A,B]
      {"MUL low byte", {0x74, 0x0C, 0x75, 0xF0, 0x0A, 0xD3, 0xA4}, 0x78, 0, kCy | kOv},
      {"MUL high byte in B", {0x74, 0x50, 0x75, 0xF0, 0xA0, 0xD3, 0xA4, 0xC5, 0xF0}, 0x32, kOv, kCy | kOv},
      {"DIV quotient", {0x74, 0xFB, 0x75, 0xF0, 0x12, 0xD3, 0x84}, 0x0D, 0, kCy | kOv},
      {"DIV remainder in B", {0x74, 0xFB, 0x75, 0xF0, 0x12, 0x84, 0xC5, 0xF0}, 0x11, 0, kCy | kOv},
      {"DIV by zero", {0x74, 0x07, 0x75, 0xF0, 0x00, 0xD3, 0x84}, 0x07, kOv, kCy | kOv},
      // MOV A,#85h; CLR/SETB C; rotate
      {"RLC", {0x74, 0x85, 0xC3, 0x33}, 0x0A, kCy, kCy},
      {"RLC takes CY in", {0x74, 0x85, 0xD3, 0x33}, 0x0B, kCy, kCy},
      {"RRC", {0x74, 0x85, 0xD3, 0x13}, 0xC2, kCy, kCy},
      {"RRC with CY clear", {0x74, 0x85, 0xC3, 0x13}, 0x42, kCy, kCy},
      {"RL leaves CY", {0x74, 0x85, 0xC3, 0x23}, 0x0B, 0, kCy},
      {"RR", {0x74, 0x85, 0x03}, 0xC2, 0, 0},
      {"SWAP", {0x74, 0x85, 0xC4}, 0x58, 0, 0},
      // Logic
      {"ORL/ANL/XRL A", {0x74, 0x3C, 0x75, 0x30, 0xF0, 0x45, 0x30, 0x54, 0x0F, 0x64, 0xFF}, 0xF3, 0, 0},
      {"XRL/ORL direct",
       {0x74, 0xF3, 0x75, 0x30, 0xF0, 0x62, 0x30, 0x43, 0x30, 0x80, 0xE5, 0x30},
       0x83,
       0,
       0},
      {"CPL A", {0x74, 0xF3, 0xF4}, 0x0C, 0, 0},
      {"CJNE less sets CY", {0x74, 0x10, 0xB4, 0x20, 0x00}, 0x10, kCy, kCy},
      {"CJNE greater clears CY", {0xD3, 0x75, 0x40, 0x10, 0x74, 0x20, 0xB5, 0x40, 0x00}, 0x20, 0, kCy},
      {"CJNE unsigned", {0x7D, 0x00, 0xBD, 0xFF, 0x00, 0x74, 0x01}, 0x01, kCy, kCy},
      // Moves and exchanges
      {"MOVC A,@A+PC", {0x74, 0x03, 0x83, 0x80, 0x02, 0x11, 0x22}, 0x22, 0, 0},
      {"MOVC A,@A+DPTR", {0x90, 0x00, 0x08, 0x74, 0x01, 0x93, 0x80, 0x02, 0x11, 0x22}, 0x22, 0, 0},
      {"XCHD swaps low nibbles", {0x74, 0xA3, 0x75, 0x41, 0x5C, 0x79, 0x41, 0xD7}, 0xAC, 0, 0},
      {"XCHD, the other side", {0x74, 0xA3, 0x75, 0x41, 0x5C, 0x79, 0x41, 0xD7, 0xE5, 0x41}, 0x53, 0, 0},
      {"XCH A,Rn", {0x7A, 0x55, 0x74, 0xAA, 0xCA}, 0x55, 0, 0},
      {"MOV dir,@Ri; MOV dir,dir",
       {0x75, 0x53, 0x99, 0x78, 0x53, 0x86, 0x51, 0x85, 0x51, 0x52, 0xE5, 0x52},
       0x99,
       0,
       0},
      {"MOV Rn,dir", {0x75, 0x40, 0x77, 0xA9, 0x40, 0xE9}, 0x77, 0, 0},
      {"PUSH, POP", {0x74, 0x66, 0xC0, 0xE0, 0xE4, 0xD0, 0xE0}, 0x66, 0, 0},
      {"PUSH SP stores the raised SP", {0x75, 0x81, 0x2F, 0xC0, 0x81, 0xE5, 0x30}, 0x30, 0, 0},
  };
  for (const AccCase& c : cases) {
    SCOPED_TRACE(c.what);
    cpu.reset();
    run(c.program);
    EXPECT_EQ(cpu.acc(), c.a);
    EXPECT_EQ(cpu.psw() & c.checked, c.flags);
    EXPECT_EQ(flag(psw::kP), (std::popcount(c.a) & 1) != 0);
  }
}

TEST_F(CpuTest, OperandsComeFromDirectIndirectAndTheSelectedRegisterBank) {
  cpu.internalRam()[0x40] = 0x01;
  cpu.internalRam()[0xC0] = 0x10;  // upper RAM, reached only indirectly
  cpu.internalRam()[0x0B] = 0x20;  // R3 of bank 1
  run({
      0x75, 0xD0, 0x08,  // MOV PSW,#08h  (bank 1)
      0x78, 0xC0,        // MOV R0,#0C0h  (0x08)
      0xE4,              // CLR A
      0x25, 0x40,        // ADD A,40h
      0x26,              // ADD A,@R0
      0x2B,              // ADD A,R3
      0x76, 0x5A,        // MOV @R0,#5Ah  internal RAM 0xC0
      0x75, 0x90, 0x0F,  // MOV 90h,#0Fh  an SFR: the P1 latch
  });
  EXPECT_EQ(cpu.acc(), 0x31);
  EXPECT_EQ(cpu.internalRam()[0x08], 0xC0);
  EXPECT_EQ(cpu.internalRam()[0xC0], 0x5A);
  EXPECT_EQ(cpu.portLatch(1), 0x0F);
}

// ---- Bits ----

TEST_F(CpuTest, BitAddressesReachTheBitAreaAndBitAddressableSfrs) {
  run({
      0xD2, 0x00,  // SETB 20h.0
      0xD2, 0x7F,  // SETB 2Fh.7
      0xD2, 0xE3,  // SETB ACC.3
      0xD2, 0xF0,  // SETB B.0
      0xB2, 0x00,  // CPL 20h.0
      0xB2, 0x01,  // CPL 20h.1
  });
  EXPECT_EQ(cpu.internalRam()[0x20], 0x02);
  EXPECT_EQ(cpu.internalRam()[0x2F], 0x80);
  EXPECT_EQ(cpu.acc(), 0x08);
  EXPECT_EQ(cpu.readDirect(sfr::kB), 0x01);
}

TEST_F(CpuTest, CarryLogicAndBitMoves) {
  struct Case {
    std::uint8_t opcode;  // ORL C,bit / ANL C,bit / ORL C,/bit / ANL C,/bit
    bool carryIn, bitValue, result;
  };
  const Case cases[] = {
      {0x72, false, true, true},  {0x72, false, false, false}, {0x82, true, true, true},
      {0x82, true, false, false}, {0xA0, false, false, true},  {0xA0, false, true, false},
      {0xB0, true, false, true},  {0xB0, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.opcode) << " " << c.carryIn << " " << c.bitValue);
    cpu.writeBit(0x10, c.bitValue);
    run({c.carryIn ? kSetbC : kClrC, c.opcode, 0x10, 0x92, 0x11});  // ...; MOV 22h.1,C
    EXPECT_EQ(flag(psw::kCy), c.result);
    EXPECT_EQ(cpu.readBit(0x11), c.result);
  }
  cpu.writeBit(0x12, true);
  run({kClrC, 0xA2, 0x12});  // MOV C,22h.2
  EXPECT_TRUE(flag(psw::kCy));
}

TEST_F(CpuTest, BitJumpsTestAndJbcClearsTheBit) {
  cpu.writeBit(0x05, true);
  // JB 20h.5,+2; MOV A,#1 (skipped); JNB 20h.5,+2 (not taken); INC A; JBC 20h.5,+1; NOP(skipped); INC A
  run({0x20, 0x05, 0x02, 0x74, 0x01, 0x30, 0x05, 0x02, 0x04, 0x10, 0x05, 0x01, 0x00, 0x04});
  EXPECT_EQ(cpu.acc(), 0x02);
  EXPECT_FALSE(cpu.readBit(0x05));
}

// ---- Jumps ----

TEST_F(CpuTest, RelativeJumpsReachBothEndsOfTheirRange) {
  struct Case {
    std::vector<std::uint8_t> jump;  // at 0x1000
    std::uint16_t target;
  };
  const Case cases[] = {
      {{0x80, 0x7F}, 0x1002 + 127},        // SJMP +127
      {{0x80, 0x80}, 0x1002 - 128},        // SJMP -128
      {{0x60, 0x80}, 0x1002 - 128},        // JZ (A = 0)
      {{0x70, 0x7F}, 0x1002},              // JNZ not taken
      {{0x40, 0x10}, 0x1002},              // JC not taken (CY = 0)
      {{0x50, 0x7F}, 0x1002 + 127},        // JNC
      {{0xB4, 0x01, 0x80}, 0x1003 - 128},  // CJNE A,#1 (A = 0)
      {{0xD5, 0x30, 0x7F}, 0x1003 + 127},  // DJNZ 30h (0 -> FF)
      {{0x20, 0xE7, 0x80}, 0x1003},        // JB ACC.7 not taken
      {{0x30, 0xE7, 0x80}, 0x1003 - 128},  // JNB ACC.7
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.jump[0]) << " " << int(c.jump[1]));
    cpu.writeDirect(sfr::kAcc, 0);
    cpu.writeDirect(sfr::kPsw, 0);
    cpu.internalRam()[0x30] = 0;
    std::copy(c.jump.begin(), c.jump.end(), cpu.code().begin() + 0x1000);
    cpu.setPc(0x1000);
    EXPECT_EQ(cpu.step(), 2u);
    EXPECT_EQ(cpu.pc(), c.target);
  }
}

TEST_F(CpuTest, AbsoluteJumpsCallsAndReturns) {
  // AJMP at the end of page 0 lands in page 1: the page is that of the next instruction.
  std::copy_n(std::array<std::uint8_t, 2>{0xE1, 0x23}.begin(), 2, cpu.code().begin() + 0x07FE);
  cpu.setPc(0x07FE);
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x0F23);
  // ACALL pushes the return address low byte first, here into upper RAM (not P0).
  cpu.writeDirect(sfr::kSp, 0x7F);
  std::copy_n(std::array<std::uint8_t, 2>{0x51, 0x80}.begin(), 2, cpu.code().begin() + 0x1234);
  cpu.setPc(0x1234);
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x1280);
  EXPECT_EQ(cpu.readDirect(sfr::kSp), 0x81);
  EXPECT_EQ(cpu.internalRam()[0x80], 0x36);
  EXPECT_EQ(cpu.internalRam()[0x81], 0x12);
  EXPECT_EQ(cpu.portLatch(0), 0xFF);
  cpu.code()[0x1280] = 0x22;  // RET
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x1236);
  EXPECT_EQ(cpu.readDirect(sfr::kSp), 0x7F);
  // LCALL, RET, then JMP @A+DPTR.
  cpu.code()[0x2000] = 0x22;
  run({
      0x12, 0x20, 0x00,  // LCALL 2000h
  });
  EXPECT_EQ(cpu.pc(), 0x2000);
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x0003);
  run({0x90, 0x30, 0x00, 0x74, 0x10, 0x73});  // MOV DPTR,#3000h; MOV A,#10h; JMP @A+DPTR
  EXPECT_EQ(cpu.pc(), 0x3010);
  // MOV R2,#3; DJNZ R2,$ : three passes of two cycles.
  EXPECT_EQ(run({0x7A, 0x03, 0xDA, 0xFE}), 1u + 3u * 2u);
}

// ---- Moves ----

TEST_F(CpuTest, MovxThroughDptrAndThroughRiWithThePageFromP2) {
  xdata[0x1234] = 0x77;
  run({
      0x90, 0x12, 0x34,  // MOV DPTR,#1234h
      0xE0,              // MOVX A,@DPTR
      0x75, 0xA0, 0xBE,  // MOV P2,#0BEh
      0x79, 0xEF,        // MOV R1,#0EFh
      0xF3,              // MOVX @R1,A
      0xA3,              // INC DPTR
      0xF0,              // MOVX @DPTR,A
  });
  EXPECT_EQ(xdata[0xBEEF], 0x77);
  EXPECT_EQ(xdata[0x1235], 0x77);
  EXPECT_EQ(cpu.dptr(), 0x1235);
}

// ---- Cycle counts of every opcode (the MCS-51 instruction set table) ----

TEST_F(CpuTest, EveryOpcodeTakesItsMachineCycles) {
  // Rows 0x0_ .. 0xF_, columns _0 .. _F.
  constexpr std::array<std::array<std::uint8_t, 16>, 16> kCycles{{
      {1, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 0
      {2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 1
      {2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 2
      {2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 3
      {2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 4
      {2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 5
      {2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 6
      {2, 2, 2, 2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 7
      {2, 2, 2, 2, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},  // 8
      {2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // 9
      {2, 2, 1, 2, 4, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},  // A
      {2, 2, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2},  // B
      {2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // C
      {2, 2, 1, 1, 1, 2, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2},  // D
      {2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // E
      {2, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},  // F
  }};
  for (unsigned opcode = 0; opcode < 256; ++opcode) {
    cpu.reset();
    cpu.code()[0] = static_cast<std::uint8_t>(opcode);
    EXPECT_EQ(cpu.step(), kCycles[opcode >> 4][opcode & 0x0F]) << "opcode " << std::hex << opcode;
  }
}

// ---- Ports ----

TEST_F(CpuTest, PortReadsSeeThePinsAndReadModifyWriteSeesTheLatch) {
  cpu.setPortInput(1, 0xEF);  // something pulls P1.4 low
  run({
      0xE5, 0x90,        // MOV A,P1        pins: EF
      0xB2, 0x93,        // CPL P1.3        latch FF -> F7, P1.4 stays 1
      0x53, 0x90, 0xFE,  // ANL P1,#0FEh    latch F7 -> F6
      0xA2, 0x94,        // MOV C,P1.4      pin: 0
  });
  EXPECT_EQ(cpu.acc(), 0xEF);
  EXPECT_EQ(cpu.portLatch(1), 0xF6);
  EXPECT_FALSE(flag(psw::kCy));
  EXPECT_EQ(latches, (std::vector<std::pair<unsigned, std::uint8_t>>{{1, 0xF7}, {1, 0xF6}}));
  // Writing the same latch value again reports nothing.
  run({0x75, 0x90, 0xF6});
  EXPECT_EQ(latches.size(), 2u);
}

// ---- UART ----

TEST_F(CpuTest, TransmitSetsTiOneCharacterAfterSbufIsWritten) {
  // MOV SBUF,#55h; JNB TI,$
  const std::uint64_t cycles = run({0x75, 0x99, 0x55, 0x30, 0x99, 0xFD});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].first, 0x55);
  EXPECT_EQ(sent[0].second, 2u);
  EXPECT_TRUE(cpu.readBit(bit::kTi));
  // TI is set 960 cycles after the write; the JNB that starts then falls through.
  EXPECT_EQ(cycles, 2u + kMachineCyclesPerCharacter + 2u);
}

TEST_F(CpuTest, ReceiveNeedsTheReceiverOnAndAClearRi) {
  cpu.receiveSerial(0x11);
  EXPECT_FALSE(cpu.readBit(bit::kRi));  // REN off
  cpu.writeDirect(sfr::kScon, 0x50);
  cpu.receiveSerial(0x22);
  cpu.receiveSerial(0x33);  // overrun: lost
  EXPECT_TRUE(cpu.readBit(bit::kRi));
  EXPECT_EQ(cpu.readDirect(sfr::kSbuf), 0x22);
}

}  // namespace
}  // namespace kkm::sim::kia
