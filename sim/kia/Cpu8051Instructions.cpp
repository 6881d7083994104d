// The instruction families of the 8051 core and the dispatch table that maps
// each of the 256 opcodes to its family and machine cycles.

#include "sim/kia/Cpu8051.h"

namespace kkm::sim::kia {

namespace {

constexpr std::uint8_t kPageMask = 0xF8;  // high five bits of a 16-bit address: the 2-KB page

constexpr std::uint8_t Low(unsigned value) { return static_cast<std::uint8_t>(value); }

// ORL, ANL, XRL by the opcode's row (4, 5, 6).
constexpr std::uint8_t Logic(std::uint8_t opcode, std::uint8_t x, std::uint8_t y) {
  switch (opcode >> 4) {
    case 0x4:
      return x | y;
    case 0x5:
      return x & y;
    default:
      return x ^ y;
  }
}

}  // namespace

// ---- Jumps and calls ----

void Cpu8051::opNop(std::uint8_t) {}

void Cpu8051::opAjmp(std::uint8_t opcode) {
  const std::uint8_t low = fetch();
  // The target keeps the page of the next instruction; the opcode's top three
  // bits give address bits 10..8.
  pc_ = static_cast<std::uint16_t>((pc_ & (kPageMask << 8)) | (opcode & 0xE0) << 3 | low);
}

void Cpu8051::opAcall(std::uint8_t opcode) {
  const std::uint8_t low = fetch();
  push(Low(pc_));
  push(Low(pc_ >> 8));
  pc_ = static_cast<std::uint16_t>((pc_ & (kPageMask << 8)) | (opcode & 0xE0) << 3 | low);
}

void Cpu8051::opLjmp(std::uint8_t) { pc_ = fetch16(); }

void Cpu8051::opLcall(std::uint8_t) {
  const std::uint16_t target = fetch16();
  push(Low(pc_));
  push(Low(pc_ >> 8));
  pc_ = target;
}

// RET and RETI (without interrupts there is no priority level to restore).
void Cpu8051::opRet(std::uint8_t) {
  const std::uint8_t high = pop();
  pc_ = static_cast<std::uint16_t>(high << 8 | pop());
}

void Cpu8051::opSjmp(std::uint8_t) { jumpRelative(fetch()); }

void Cpu8051::opJmpIndexed(std::uint8_t) { pc_ = static_cast<std::uint16_t>(dptr() + accumulator()); }

// JC, JNC, JZ, JNZ.
void Cpu8051::opConditionalJump(std::uint8_t opcode) {
  const std::uint8_t offset = fetch();
  bool taken = false;
  switch (opcode) {
    case 0x40:
      taken = carry();
      break;
    case 0x50:
      taken = !carry();
      break;
    case 0x60:
      taken = accumulator() == 0;
      break;
    default:
      taken = accumulator() != 0;
      break;
  }
  if (taken) jumpRelative(offset);
}

// JBC (reads and clears the latch), JB, JNB (read the pin).
void Cpu8051::opBitJump(std::uint8_t opcode) {
  const std::uint8_t bitAddress = fetch();
  const std::uint8_t offset = fetch();
  if (opcode == 0x10) {
    if (readBitFor(bitAddress, true)) {
      writeBit(bitAddress, false);
      jumpRelative(offset);
    }
    return;
  }
  if (readBit(bitAddress) == (opcode == 0x20)) jumpRelative(offset);
}

// CJNE A,#data / A,direct / @Ri,#data / Rn,#data: CY = first < second.
void Cpu8051::opCjne(std::uint8_t opcode) {
  std::uint8_t first = 0;
  std::uint8_t second = 0;
  if (opcode == 0xB4 || opcode == 0xB5) {
    first = accumulator();
    second = opcode == 0xB4 ? fetch() : readDirect(fetch());
  } else {
    first = read(decodeOperand(opcode));
    second = fetch();
  }
  const std::uint8_t offset = fetch();
  setFlag(psw::kCy, first < second);
  if (first != second) jumpRelative(offset);
}

// DJNZ direct,rel (read-modify-write) and DJNZ Rn,rel.
void Cpu8051::opDjnz(std::uint8_t opcode) {
  const Operand operand = decodeOperand(opcode);
  const std::uint8_t value = static_cast<std::uint8_t>(read(operand, true) - 1);
  write(operand, value);
  const std::uint8_t offset = fetch();
  if (value != 0) jumpRelative(offset);
}

// ---- Arithmetic and logic ----

// ADD (row 2), ADDC (row 3), SUBB (row 9): CY, AC, OV from the unsigned,
// nibble and signed results.
void Cpu8051::opArithmetic(std::uint8_t opcode) {
  const std::uint8_t operand = read(decodeOperand(opcode));
  const std::uint8_t a = accumulator();
  const unsigned row = opcode >> 4;
  const int carryIn = row == 0x2 ? 0 : (carry() ? 1 : 0);
  int result = 0;
  int nibble = 0;
  int signedResult = 0;
  if (row == 0x9) {
    result = a - operand - carryIn;
    nibble = (a & 0x0F) - (operand & 0x0F) - carryIn;
    signedResult = static_cast<std::int8_t>(a) - static_cast<std::int8_t>(operand) - carryIn;
    setFlag(psw::kCy, result < 0);
    setFlag(psw::kAc, nibble < 0);
  } else {
    result = a + operand + carryIn;
    nibble = (a & 0x0F) + (operand & 0x0F) + carryIn;
    signedResult = static_cast<std::int8_t>(a) + static_cast<std::int8_t>(operand) + carryIn;
    setFlag(psw::kCy, result > 0xFF);
    setFlag(psw::kAc, nibble > 0x0F);
  }
  setFlag(psw::kOv, signedResult < -128 || signedResult > 127);
  accumulator() = Low(static_cast<unsigned>(result));
}

// ORL/ANL/XRL A,<operand>.
void Cpu8051::opLogicToAcc(std::uint8_t opcode) {
  const std::uint8_t operand = read(decodeOperand(opcode));
  accumulator() = Logic(opcode, accumulator(), operand);
}

// ORL/ANL/XRL direct,A and direct,#data (read-modify-write: a port's latch).
void Cpu8051::opLogicToDirect(std::uint8_t opcode) {
  const std::uint8_t address = fetch();
  const std::uint8_t operand = (opcode & 0x0F) == 0x02 ? accumulator() : fetch();
  writeDirect(address, Logic(opcode, readDirectFor(address, true), operand));
}

// INC (row 0) and DEC (row 1) of A, direct, @Ri, Rn: no flags.
void Cpu8051::opIncDec(std::uint8_t opcode) {
  const int delta = (opcode >> 4) == 0 ? 1 : -1;
  if ((opcode & 0x0F) == 0x04) {
    accumulator() = Low(static_cast<unsigned>(accumulator() + delta));
    return;
  }
  const Operand operand = decodeOperand(opcode);
  write(operand, Low(static_cast<unsigned>(read(operand, true) + delta)));
}

void Cpu8051::opIncDptr(std::uint8_t) { setDptr(static_cast<std::uint16_t>(dptr() + 1)); }

// RR, RRC, RL, RLC, SWAP.
void Cpu8051::opRotate(std::uint8_t opcode) {
  std::uint8_t& a = accumulator();
  switch (opcode) {
    case 0x03:
      a = Low(a >> 1 | a << 7);
      break;
    case 0x13: {
      const bool out = (a & 0x01) != 0;
      a = Low(a >> 1 | (carry() ? 0x80 : 0));
      setFlag(psw::kCy, out);
      break;
    }
    case 0x23:
      a = Low(a << 1 | a >> 7);
      break;
    case 0x33: {
      const bool out = (a & 0x80) != 0;
      a = Low(a << 1 | (carry() ? 0x01 : 0));
      setFlag(psw::kCy, out);
      break;
    }
    default:
      a = Low(a << 4 | a >> 4);
      break;
  }
}

// MUL AB (B:A = A*B, OV when B is not 0) and DIV AB (OV on division by 0,
// A and B then unchanged). Both clear CY.
void Cpu8051::opMulDiv(std::uint8_t opcode) {
  std::uint8_t& a = accumulator();
  std::uint8_t& b = sfrRef(sfr::kB);
  setFlag(psw::kCy, false);
  if (opcode == 0xA4) {
    const unsigned product = static_cast<unsigned>(a) * b;
    a = Low(product);
    b = Low(product >> 8);
    setFlag(psw::kOv, product > 0xFF);
    return;
  }
  if (b == 0) {
    setFlag(psw::kOv, true);
    return;
  }
  const std::uint8_t quotient = a / b;
  b = a % b;
  a = quotient;
  setFlag(psw::kOv, false);
}

// DA A: adds 6 to a digit above 9 (or the low one after AC, the high one
// after CY); sets CY on a carry out of the byte and never clears it.
void Cpu8051::opDecimalAdjust(std::uint8_t) {
  unsigned value = accumulator();
  bool carryOut = carry();
  if ((value & 0x0F) > 9 || (psw() & psw::kAc) != 0) value += 0x06;
  if (value > 0xFF) carryOut = true;
  if ((value & 0xF0) > 0x90 || carryOut) {
    value += 0x60;
    if (value > 0xFF) carryOut = true;
  }
  accumulator() = Low(value);
  setFlag(psw::kCy, carryOut);
}

// CLR A, CPL A.
void Cpu8051::opAccUnary(std::uint8_t opcode) { accumulator() = opcode == 0xE4 ? 0 : Low(~accumulator()); }

// ---- Moves ----

// MOV A,#data / direct / @Ri / Rn.
void Cpu8051::opMovToAcc(std::uint8_t opcode) { accumulator() = read(decodeOperand(opcode)); }

// MOV direct / @Ri / Rn, A.
void Cpu8051::opMovFromAcc(std::uint8_t opcode) { write(decodeOperand(opcode), accumulator()); }

// MOV direct,#data / @Ri,#data / Rn,#data.
void Cpu8051::opMovImmediate(std::uint8_t opcode) {
  const Operand target = decodeOperand(opcode);
  write(target, fetch());
}

// MOV direct,direct (source first) / direct,@Ri / direct,Rn.
void Cpu8051::opMovToDirect(std::uint8_t opcode) {
  if (opcode == 0x85) {
    const std::uint8_t source = fetch();
    writeDirect(fetch(), readDirect(source));
    return;
  }
  const std::uint8_t value = read(decodeOperand(opcode));
  writeDirect(fetch(), value);
}

// MOV @Ri,direct / Rn,direct.
void Cpu8051::opMovFromDirect(std::uint8_t opcode) {
  const Operand target = decodeOperand(opcode);
  write(target, readDirect(fetch()));
}

void Cpu8051::opMovDptr(std::uint8_t) { setDptr(fetch16()); }

// MOVC A,@A+PC (PC of the next instruction) and MOVC A,@A+DPTR.
void Cpu8051::opMovc(std::uint8_t opcode) {
  const std::uint16_t base = opcode == 0x83 ? pc_ : dptr();
  accumulator() = code_[static_cast<std::uint16_t>(base + accumulator())];
}

// MOVX through DPTR, or through @Ri with P2's latch as the high byte.
void Cpu8051::opMovx(std::uint8_t opcode) {
  const bool throughDptr = (opcode & 0x0F) == 0x00;
  const std::uint16_t address =
      throughDptr ? dptr() : static_cast<std::uint16_t>(sfrRef(sfr::kP2) << 8 | reg(opcode & 0x01));
  if ((opcode & 0xF0) == 0xE0) {
    accumulator() = surroundings_.readExternal(address);
  } else {
    surroundings_.writeExternal(address, accumulator());
  }
}

// ---- Bits ----

// ORL C,bit / ANL C,bit / ORL C,/bit / ANL C,/bit.
void Cpu8051::opCarryLogic(std::uint8_t opcode) {
  const bool invert = (opcode & 0xF0) >= 0xA0;
  const bool value = readBit(fetch()) != invert;
  const bool orOperation = opcode == 0x72 || opcode == 0xA0;
  setFlag(psw::kCy, orOperation ? (carry() || value) : (carry() && value));
}

// MOV C,bit (reads the pin) and MOV bit,C.
void Cpu8051::opBitMove(std::uint8_t opcode) {
  const std::uint8_t bitAddress = fetch();
  if (opcode == 0xA2) {
    setFlag(psw::kCy, readBit(bitAddress));
  } else {
    writeBit(bitAddress, carry());
  }
}

// CPL, CLR, SETB of a bit (columns 2) or of C (column 3).
void Cpu8051::opBitSet(std::uint8_t opcode) {
  const bool onCarry = (opcode & 0x0F) == 0x03;
  const std::uint8_t bitAddress = onCarry ? static_cast<std::uint8_t>(sfr::kPsw | 7) : fetch();
  bool value = false;
  switch (opcode & 0xF0) {
    case 0xB0:
      value = !readBitFor(bitAddress, true);
      break;
    case 0xC0:
      value = false;
      break;
    default:
      value = true;
      break;
  }
  writeBit(bitAddress, value);
}

// XCH A,direct / @Ri / Rn and XCHD A,@Ri (low nibbles only).
void Cpu8051::opExchange(std::uint8_t opcode) {
  const Operand operand = decodeOperand(opcode);
  const std::uint8_t other = read(operand);
  std::uint8_t& a = accumulator();
  if ((opcode & 0xF0) == 0xD0) {
    write(operand, Low((other & 0xF0) | (a & 0x0F)));
    a = Low((a & 0xF0) | (other & 0x0F));
    return;
  }
  write(operand, a);
  a = other;
}

void Cpu8051::opPushPop(std::uint8_t opcode) {
  const std::uint8_t address = fetch();
  if (opcode == 0xC0) {
    // SP goes up before the operand is read: PUSH SP stores the raised SP.
    std::uint8_t& sp = sfrRef(sfr::kSp);
    ++sp;
    iram_[sp] = readDirect(address);
  } else {
    writeDirect(address, pop());
  }
}

// ---- The dispatch table ----

const std::array<Cpu8051::Instruction, 256> Cpu8051::kDispatch = [] {
  std::array<Instruction, 256> table{};
  const auto set = [&table](unsigned first, unsigned last, Handler handler, std::uint8_t cycles) {
    for (unsigned opcode = first; opcode <= last; ++opcode) table[opcode] = {handler, cycles};
  };
  const auto one = [&set](unsigned opcode, Handler handler, std::uint8_t cycles) {
    set(opcode, opcode, handler, cycles);
  };

  // Column 1 of every row: AJMP (even rows) and ACALL (odd rows).
  for (unsigned row = 0; row < 16; ++row) {
    one(row << 4 | 0x01, (row & 1) == 0 ? &Cpu8051::opAjmp : &Cpu8051::opAcall, 2);
  }
  // Rows whose columns 4..F name an operand.
  set(0x04, 0x0F, &Cpu8051::opIncDec, 1);
  set(0x14, 0x1F, &Cpu8051::opIncDec, 1);
  set(0x24, 0x2F, &Cpu8051::opArithmetic, 1);
  set(0x34, 0x3F, &Cpu8051::opArithmetic, 1);
  set(0x44, 0x4F, &Cpu8051::opLogicToAcc, 1);
  set(0x54, 0x5F, &Cpu8051::opLogicToAcc, 1);
  set(0x64, 0x6F, &Cpu8051::opLogicToAcc, 1);
  set(0x94, 0x9F, &Cpu8051::opArithmetic, 1);
  set(0x76, 0x7F, &Cpu8051::opMovImmediate, 1);
  set(0x86, 0x8F, &Cpu8051::opMovToDirect, 2);
  set(0xA6, 0xAF, &Cpu8051::opMovFromDirect, 2);
  set(0xB6, 0xBF, &Cpu8051::opCjne, 2);
  set(0xC5, 0xCF, &Cpu8051::opExchange, 1);
  set(0xD6, 0xD7, &Cpu8051::opExchange, 1);
  set(0xD8, 0xDF, &Cpu8051::opDjnz, 2);
  set(0xE5, 0xEF, &Cpu8051::opMovToAcc, 1);
  set(0xF5, 0xFF, &Cpu8051::opMovFromAcc, 1);

  // Column 0.
  one(0x00, &Cpu8051::opNop, 1);
  one(0x10, &Cpu8051::opBitJump, 2);
  one(0x20, &Cpu8051::opBitJump, 2);
  one(0x30, &Cpu8051::opBitJump, 2);
  one(0x40, &Cpu8051::opConditionalJump, 2);
  one(0x50, &Cpu8051::opConditionalJump, 2);
  one(0x60, &Cpu8051::opConditionalJump, 2);
  one(0x70, &Cpu8051::opConditionalJump, 2);
  one(0x80, &Cpu8051::opSjmp, 2);
  one(0x90, &Cpu8051::opMovDptr, 2);
  one(0xA0, &Cpu8051::opCarryLogic, 2);
  one(0xB0, &Cpu8051::opCarryLogic, 2);
  one(0xC0, &Cpu8051::opPushPop, 2);
  one(0xD0, &Cpu8051::opPushPop, 2);
  one(0xE0, &Cpu8051::opMovx, 2);
  one(0xF0, &Cpu8051::opMovx, 2);

  // Column 2.
  one(0x02, &Cpu8051::opLjmp, 2);
  one(0x12, &Cpu8051::opLcall, 2);
  one(0x22, &Cpu8051::opRet, 2);
  one(0x32, &Cpu8051::opRet, 2);
  one(0x42, &Cpu8051::opLogicToDirect, 1);
  one(0x52, &Cpu8051::opLogicToDirect, 1);
  one(0x62, &Cpu8051::opLogicToDirect, 1);
  one(0x72, &Cpu8051::opCarryLogic, 2);
  one(0x82, &Cpu8051::opCarryLogic, 2);
  one(0x92, &Cpu8051::opBitMove, 2);
  one(0xA2, &Cpu8051::opBitMove, 1);
  one(0xB2, &Cpu8051::opBitSet, 1);
  one(0xC2, &Cpu8051::opBitSet, 1);
  one(0xD2, &Cpu8051::opBitSet, 1);
  one(0xE2, &Cpu8051::opMovx, 2);
  one(0xF2, &Cpu8051::opMovx, 2);

  // Column 3.
  one(0x03, &Cpu8051::opRotate, 1);
  one(0x13, &Cpu8051::opRotate, 1);
  one(0x23, &Cpu8051::opRotate, 1);
  one(0x33, &Cpu8051::opRotate, 1);
  one(0x43, &Cpu8051::opLogicToDirect, 2);
  one(0x53, &Cpu8051::opLogicToDirect, 2);
  one(0x63, &Cpu8051::opLogicToDirect, 2);
  one(0x73, &Cpu8051::opJmpIndexed, 2);
  one(0x83, &Cpu8051::opMovc, 2);
  one(0x93, &Cpu8051::opMovc, 2);
  one(0xA3, &Cpu8051::opIncDptr, 2);
  one(0xB3, &Cpu8051::opBitSet, 1);
  one(0xC3, &Cpu8051::opBitSet, 1);
  one(0xD3, &Cpu8051::opBitSet, 1);
  one(0xE3, &Cpu8051::opMovx, 2);
  one(0xF3, &Cpu8051::opMovx, 2);

  // Column 4 outside the operand rows.
  one(0x74, &Cpu8051::opMovToAcc, 1);
  one(0x84, &Cpu8051::opMulDiv, 4);
  one(0xA4, &Cpu8051::opMulDiv, 4);
  one(0xB4, &Cpu8051::opCjne, 2);
  one(0xC4, &Cpu8051::opRotate, 1);
  one(0xD4, &Cpu8051::opDecimalAdjust, 1);
  one(0xE4, &Cpu8051::opAccUnary, 1);
  one(0xF4, &Cpu8051::opAccUnary, 1);

  // Column 5 outside the operand rows.
  one(0x75, &Cpu8051::opMovImmediate, 2);
  one(0x85, &Cpu8051::opMovToDirect, 2);
  one(0xA5, &Cpu8051::opNop, 1);  // the reserved opcode: does nothing
  one(0xB5, &Cpu8051::opCjne, 2);
  one(0xD5, &Cpu8051::opDjnz, 2);
  return table;
}();

}  // namespace kkm::sim::kia
