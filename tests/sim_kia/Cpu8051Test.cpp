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

// ---- Arithmetic ----

struct ArithmeticCase {
  std::uint8_t opcode;  // ADD, ADDC or SUBB A,#data
  std::uint8_t a, operand;
  bool carryIn;
  std::uint8_t result;
  bool cy, ac, ov;
};

TEST_F(CpuTest, AddAddcSubbSetCarryAuxiliaryCarryAndOverflow) {
  const ArithmeticCase cases[] = {
      {0x24, 0x12, 0x34, true, 0x46, false, false, false},  // ADD ignores CY
      {0x24, 0x0F, 0x01, false, 0x10, false, true, false},  // carry out of bit 3
      {0x24, 0x7F, 0x01, false, 0x80, false, true, true},   // +127 + 1 overflows
      {0x24, 0x80, 0x80, false, 0x00, true, false, true},   // -128 + -128
      {0x24, 0xFF, 0x01, false, 0x00, true, true, false},   // -1 + 1
      {0x34, 0xFE, 0x01, true, 0x00, true, true, false},    // ADDC adds CY
      {0x34, 0x3F, 0x40, true, 0x80, false, true, true},
      {0x94, 0x00, 0x01, false, 0xFF, true, true, false},  // borrow
      {0x94, 0x80, 0x01, false, 0x7F, false, true, true},  // -128 - 1
      {0x94, 0x7F, 0xFF, false, 0x80, true, false, true},  // 127 - -1
      {0x94, 0x50, 0x20, true, 0x2F, false, true, false},  // SUBB subtracts CY
      {0x94, 0x50, 0x50, false, 0x00, false, false, false},
  };
  for (const ArithmeticCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "op " << int(c.opcode) << " a " << int(c.a)
                                      << " operand " << int(c.operand) << " carry " << c.carryIn);
    run({kMovAImm, c.a, c.carryIn ? kSetbC : kClrC, c.opcode, c.operand});
    EXPECT_EQ(cpu.acc(), c.result);
    EXPECT_EQ(flag(psw::kCy), c.cy);
    EXPECT_EQ(flag(psw::kAc), c.ac);
    EXPECT_EQ(flag(psw::kOv), c.ov);
    EXPECT_EQ(flag(psw::kP), (std::popcount(c.result) & 1) != 0);
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
  });
  EXPECT_EQ(cpu.acc(), 0x31);
  EXPECT_EQ(cpu.internalRam()[0x08], 0xC0);
  EXPECT_EQ(cpu.internalRam()[0x00], 0x00);
}

TEST_F(CpuTest, UpperRamIsReachedIndirectlyWhileDirectAddressesAbove7FAreSfrs) {
  run({
      0x78, 0x90,        // MOV R0,#90h
      0x76, 0x5A,        // MOV @R0,#5Ah   internal RAM 0x90
      0x75, 0x90, 0x0F,  // MOV 90h,#0Fh   P1 latch
  });
  EXPECT_EQ(cpu.internalRam()[0x90], 0x5A);
  EXPECT_EQ(cpu.portLatch(1), 0x0F);
}

TEST_F(CpuTest, DecimalAdjustMakesPackedBcdSums) {
  struct Case {
    std::uint8_t x, y, result;
    bool cy;
  };
  const Case cases[] = {
      {0x19, 0x28, 0x47, false},  // AC set by the binary add
      {0x09, 0x01, 0x10, false},  // low digit above 9
      {0x99, 0x01, 0x00, true},   // carries through both digits
      {0x56, 0x67, 0x23, true},   // both digits above 9
      {0x80, 0x80, 0x60, true},   // CY set by the binary add
      {0x42, 0x15, 0x57, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.x) << " + " << int(c.y));
    run({kMovAImm, c.x, 0x24, c.y, 0xD4});  // MOV A,#x; ADD A,#y; DA A
    EXPECT_EQ(cpu.acc(), c.result);
    EXPECT_EQ(flag(psw::kCy), c.cy);
  }
}

TEST_F(CpuTest, MultiplyAndDivideUseAAndB) {
  struct Case {
    std::uint8_t opcode, a, b, resultA, resultB;
    bool ov;
  };
  const Case cases[] = {
      {0xA4, 0x50, 0xA0, 0x00, 0x32, true},   // 0x3200: OV when B is not 0
      {0xA4, 0x0C, 0x0A, 0x78, 0x00, false},  //
      {0x84, 0xFB, 0x12, 0x0D, 0x11, false},  // 251 / 18 = 13 remainder 17
      {0x84, 0x07, 0x00, 0x07, 0x00, true},   // division by zero
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.opcode) << " " << int(c.a) << " " << int(c.b));
    // MOV A,#a; MOV B,#b; SETB C; MUL/DIV AB
    const std::uint64_t cycles = run({kMovAImm, c.a, 0x75, sfr::kB, c.b, kSetbC, c.opcode});
    EXPECT_EQ(cpu.acc(), c.resultA);
    EXPECT_EQ(cpu.readDirect(sfr::kB), c.resultB);
    EXPECT_EQ(flag(psw::kOv), c.ov);
    EXPECT_FALSE(flag(psw::kCy));
    EXPECT_EQ(cycles, 1u + 2u + 1u + 4u);
  }
}

TEST_F(CpuTest, RotatesThroughAndAroundTheCarry) {
  struct Case {
    std::uint8_t opcode;
    bool carryIn;
    std::uint8_t result;
    bool cy;
  };
  const Case cases[] = {
      {0x33, false, 0x0A, true},   // RLC: bit 7 to CY, CY to bit 0
      {0x33, true, 0x0B, true},    //
      {0x13, true, 0xC2, true},    // RRC: bit 0 to CY, CY to bit 7
      {0x13, false, 0x42, true},   //
      {0x23, false, 0x0B, false},  // RL leaves CY alone
      {0x03, true, 0xC2, true},    // RR
      {0xC4, false, 0x58, false},  // SWAP
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.opcode) << " carry " << c.carryIn);
    run({kMovAImm, 0x85, c.carryIn ? kSetbC : kClrC, c.opcode});
    EXPECT_EQ(cpu.acc(), c.result);
    EXPECT_EQ(flag(psw::kCy), c.cy);
  }
}

TEST_F(CpuTest, LogicOnAccumulatorAndDirectAddresses) {
  cpu.internalRam()[0x30] = 0xF0;
  run({
      kMovAImm, 0x3C,    // MOV A,#3Ch
      0x45, 0x30,        // ORL A,30h     -> FC
      0x54, 0x0F,        // ANL A,#0Fh    -> 0C
      0x64, 0xFF,        // XRL A,#0FFh   -> F3
      0x62, 0x30,        // XRL 30h,A     -> 03
      0x43, 0x30, 0x80,  // ORL 30h,#80h  -> 83
      0xF4,              // CPL A         -> 0C
  });
  EXPECT_EQ(cpu.acc(), 0x0C);
  EXPECT_EQ(cpu.internalRam()[0x30], 0x83);
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

TEST_F(CpuTest, AjmpAndAcallStayInThePageOfTheNextInstruction) {
  // AJMP at the end of page 0 lands in page 1.
  std::copy_n(std::array<std::uint8_t, 2>{0xE1, 0x23}.begin(), 2, cpu.code().begin() + 0x07FE);
  cpu.setPc(0x07FE);
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x0F23);
  // ACALL pushes the return address low byte first.
  std::copy_n(std::array<std::uint8_t, 2>{0x51, 0x80}.begin(), 2, cpu.code().begin() + 0x1234);
  cpu.setPc(0x1234);
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x1280);
  EXPECT_EQ(cpu.readDirect(sfr::kSp), 0x09);
  EXPECT_EQ(cpu.internalRam()[0x08], 0x36);
  EXPECT_EQ(cpu.internalRam()[0x09], 0x12);
  // RET comes back.
  cpu.code()[0x1280] = 0x22;
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x1236);
  EXPECT_EQ(cpu.readDirect(sfr::kSp), 0x07);
}

TEST_F(CpuTest, LcallReturnsAndJmpIndexedAddsAToDptr) {
  cpu.code()[0x2000] = 0x22;  // RET
  run({
      0x12, 0x20, 0x00,  // LCALL 2000h
  });
  EXPECT_EQ(cpu.pc(), 0x2000);
  EXPECT_EQ(cpu.readDirect(sfr::kSp), 0x09);
  cpu.step();
  EXPECT_EQ(cpu.pc(), 0x0003);
  run({
      0x90, 0x30, 0x00,  // MOV DPTR,#3000h
      kMovAImm, 0x10,    // MOV A,#10h
      0x73,              // JMP @A+DPTR
  });
  EXPECT_EQ(cpu.pc(), 0x3010);
}

TEST_F(CpuTest, CjneComparesUnsignedAndDjnzCountsDown) {
  struct Case {
    std::uint8_t first, second;
    bool cy, jumps;
  };
  const Case cases[] = {{0x10, 0x20, true, true},
                        {0x20, 0x10, false, true},
                        {0x33, 0x33, false, false},
                        {0x00, 0xFF, true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << int(c.first) << " vs " << int(c.second));
    cpu.internalRam()[0x40] = c.second;
    // CJNE R5,#second / CJNE A,direct, both to +3
    run({0x7D, c.first, 0xBD, c.second, 0x03});
    EXPECT_EQ(flag(psw::kCy), c.cy);
    EXPECT_EQ(cpu.pc(), c.jumps ? 0x0008 : 0x0005);
    run({kMovAImm, c.first, 0xB5, 0x40, 0x03});
    EXPECT_EQ(flag(psw::kCy), c.cy);
    EXPECT_EQ(cpu.pc(), c.jumps ? 0x0008 : 0x0005);
  }
  // MOV R2,#3; DJNZ R2,$ : three passes of two cycles.
  EXPECT_EQ(run({0x7A, 0x03, 0xDA, 0xFE}), 1u + 3u * 2u);
  EXPECT_EQ(cpu.internalRam()[0x02], 0x00);
}

// ---- Moves ----

TEST_F(CpuTest, MovcReadsCodeRelativeToDptrAndPc) {
  cpu.code()[0x4005] = 0xAB;
  run({0x90, 0x40, 0x00, kMovAImm, 0x05, 0x93});  // MOV DPTR,#4000h; MOV A,#5; MOVC A,@A+DPTR
  EXPECT_EQ(cpu.acc(), 0xAB);
  // MOV A,#3; MOVC A,@A+PC; SJMP +2; DB 11h, 22h: A + PC = 3 + 3 -> 22h
  run({kMovAImm, 0x03, 0x83, 0x80, 0x02, 0x11, 0x22});
  EXPECT_EQ(cpu.acc(), 0x22);
}

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

TEST_F(CpuTest, ExchangesAndMovesBetweenDirectAddresses) {
  cpu.internalRam()[0x41] = 0x5C;
  cpu.internalRam()[0x53] = 0x99;
  run({
      kMovAImm, 0xA3,    // MOV A,#0A3h
      0x79, 0x41,        // MOV R1,#41h
      0xD7,              // XCHD A,@R1   A = A C, (41h) = 5 3
      0x85, 0x41, 0x50,  // MOV 50h,41h
      0xCA,              // XCH A,R2
      0xA8, 0x50,        // MOV R0,50h
      0x86, 0x51,        // MOV 51h,@R0  (R0 = 53h)
  });
  EXPECT_EQ(cpu.internalRam()[0x51], 0x99);
  EXPECT_EQ(cpu.internalRam()[0x41], 0x53);
  EXPECT_EQ(cpu.internalRam()[0x50], 0x53);
  EXPECT_EQ(cpu.internalRam()[0x02], 0xAC);
  EXPECT_EQ(cpu.internalRam()[0x00], 0x53);
}

TEST_F(CpuTest, PushAndPopUseTheStackInAllOfInternalRam) {
  run({
      0x75, 0x81, 0x7F,  // MOV SP,#7Fh
      kMovAImm, 0x66,    // MOV A,#66h
      0xC0, 0xE0,        // PUSH ACC   -> 80h (upper RAM, not P0)
      0xD0, 0xF0,        // POP B
  });
  EXPECT_EQ(cpu.internalRam()[0x80], 0x66);
  EXPECT_EQ(cpu.portLatch(0), 0xFF);
  EXPECT_EQ(cpu.readDirect(sfr::kB), 0x66);
  EXPECT_EQ(cpu.readDirect(sfr::kSp), 0x7F);
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
