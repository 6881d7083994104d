#pragma once
// An MCS-51 (8051/8052) core: the full instruction set with its cycle counts,
// 256 bytes of internal RAM (the upper 128 reached indirectly), the SFRs, a
// mode-1 UART and four ports whose pins are open-drain.
//
// Time is counted in machine cycles (12 clocks at 11.0592 MHz, 921600 per
// second). The core owns its 64-KB code memory (writable, so a monitor can
// place routines) and talks to everything else through CpuSurroundings:
// external data memory, the serial transmitter and the port latches.
//
// Left out: interrupts (IE/IP are plain registers, no vector is ever taken),
// the timers (TMOD/TCON/THx/TLx are plain registers; the UART runs at 9600
// bit/s whatever timer 1 is set to) and the UART's modes 0, 2 and 3.

#include <array>
#include <cstdint>
#include <span>

namespace kkm::sim::kia {

// Machine cycles of the core per second (11.0592 MHz / 12).
inline constexpr std::uint64_t kMachineCyclesPerSecond = 921'600;
// One UART character in mode 1 at 9600 bit/s: 10 bits of 96 machine cycles.
inline constexpr std::uint64_t kMachineCyclesPerCharacter = 960;

// What the core reaches outside itself. Calls happen while an instruction
// executes; Cpu8051::cycles() then already counts the whole instruction.
class CpuSurroundings {
 public:
  virtual ~CpuSurroundings() = default;
  virtual std::uint8_t readExternal(std::uint16_t address) = 0;
  virtual void writeExternal(std::uint16_t address, std::uint8_t value) = 0;
  // SBUF was written: the byte starts crossing the line now.
  virtual void serialTransmit(std::uint8_t byte) = 0;
  // The latch of port `port` (0..3) changed.
  virtual void portLatchChanged(unsigned port, std::uint8_t latch) = 0;
};

// SFR addresses and bit addresses the core gives meaning to.
namespace sfr {
inline constexpr std::uint8_t kP0 = 0x80, kSp = 0x81, kDpl = 0x82, kDph = 0x83, kP1 = 0x90, kScon = 0x98,
                              kSbuf = 0x99, kP2 = 0xA0, kP3 = 0xB0, kPsw = 0xD0, kAcc = 0xE0, kB = 0xF0;
}  // namespace sfr
namespace bit {
inline constexpr std::uint8_t kRi = 0x98, kTi = 0x99, kRen = 0x9C;
}  // namespace bit
namespace psw {
inline constexpr std::uint8_t kCy = 0x80, kAc = 0x40, kF0 = 0x20, kRs1 = 0x10, kRs0 = 0x08, kOv = 0x04,
                              kP = 0x01;
}  // namespace psw

class Cpu8051 {
 public:
  explicit Cpu8051(CpuSurroundings& surroundings);

  // Power-on state: PC 0, SP 0x07, ports 0xFF, other SFRs 0, RAM kept.
  void reset();
  // Executes one instruction and returns its machine cycles (1, 2 or 4).
  unsigned step();
  std::uint64_t cycles() const { return cycles_; }

  std::span<std::uint8_t> code() { return code_; }
  std::span<std::uint8_t> internalRam() { return iram_; }

  // A byte finished arriving on RXD: it goes to the receive buffer and sets
  // RI when the receiver is on (REN) and RI is clear; otherwise it is lost.
  void receiveSerial(std::uint8_t byte);
  // Levels the outside allows on a port's pins (a 0 bit: something pulls the
  // pin low). A pin reads latch AND this.
  void setPortInput(unsigned port, std::uint8_t levels) { portInput_[port & 3] = levels; }
  std::uint8_t portLatch(unsigned port) const { return sfr_[PortSfr(port) - 0x80]; }

  // Registers, for tests and the board.
  std::uint16_t pc() const { return pc_; }
  void setPc(std::uint16_t pc) { pc_ = pc; }
  std::uint8_t acc() const { return sfr_[sfr::kAcc - 0x80]; }
  std::uint8_t psw() const;
  std::uint16_t dptr() const;
  // Direct addressing as the instructions see it (0x80.. are SFRs; a port
  // reads its pins); writes have every side effect an instruction's has.
  std::uint8_t readDirect(std::uint8_t address) { return readDirectFor(address, false); }
  void writeDirect(std::uint8_t address, std::uint8_t value);
  bool readBit(std::uint8_t bitAddress) { return readBitFor(bitAddress, false); }
  void writeBit(std::uint8_t bitAddress, bool value);

 private:
  using Handler = void (Cpu8051::*)(std::uint8_t opcode);
  struct Instruction {
    Handler handler;
    std::uint8_t cycles;
  };
  static const std::array<Instruction, 256> kDispatch;
  static constexpr std::uint8_t PortSfr(unsigned port) {
    return static_cast<std::uint8_t>(0x80 + 0x10 * (port & 3));
  }

  // Memory and operand access.
  std::uint8_t fetch() { return code_[pc_++]; }
  std::uint16_t fetch16();
  std::uint8_t& sfrRef(std::uint8_t address) { return sfr_[address - 0x80]; }
  std::uint8_t& accumulator() { return sfrRef(sfr::kAcc); }
  std::uint8_t& reg(unsigned n);
  std::uint8_t readDirectFor(std::uint8_t address, bool readModifyWrite);
  bool readBitFor(std::uint8_t bitAddress, bool readModifyWrite);
  bool carry() const { return (sfr_[sfr::kPsw - 0x80] & psw::kCy) != 0; }
  void setFlag(std::uint8_t flag, bool on);
  void setDptr(std::uint16_t value);
  void push(std::uint8_t value);
  std::uint8_t pop();
  void jumpRelative(std::uint8_t offset) {
    pc_ = static_cast<std::uint16_t>(pc_ + static_cast<std::int8_t>(offset));
  }
  void serviceUart();

  // Operands named by the low three or four bits of an opcode:
  // x4 #data, x5 direct, x6/x7 @R0/@R1, x8..xF R0..R7.
  struct Operand {
    enum class Kind : std::uint8_t { Immediate, Direct, Indirect, Register } kind;
    std::uint8_t address;  // the immediate value for Immediate
  };
  Operand decodeOperand(std::uint8_t opcode);
  std::uint8_t read(const Operand& operand, bool readModifyWrite = false);
  void write(const Operand& operand, std::uint8_t value);

  // Instruction families.
  void opNop(std::uint8_t opcode);
  void opAjmp(std::uint8_t opcode);
  void opAcall(std::uint8_t opcode);
  void opLjmp(std::uint8_t opcode);
  void opLcall(std::uint8_t opcode);
  void opRet(std::uint8_t opcode);
  void opSjmp(std::uint8_t opcode);
  void opJmpIndexed(std::uint8_t opcode);
  void opConditionalJump(std::uint8_t opcode);
  void opBitJump(std::uint8_t opcode);
  void opCjne(std::uint8_t opcode);
  void opDjnz(std::uint8_t opcode);
  void opArithmetic(std::uint8_t opcode);
  void opLogicToAcc(std::uint8_t opcode);
  void opLogicToDirect(std::uint8_t opcode);
  void opIncDec(std::uint8_t opcode);
  void opIncDptr(std::uint8_t opcode);
  void opRotate(std::uint8_t opcode);
  void opMulDiv(std::uint8_t opcode);
  void opDecimalAdjust(std::uint8_t opcode);
  void opAccUnary(std::uint8_t opcode);
  void opMovToAcc(std::uint8_t opcode);
  void opMovFromAcc(std::uint8_t opcode);
  void opMovImmediate(std::uint8_t opcode);
  void opMovToDirect(std::uint8_t opcode);
  void opMovFromDirect(std::uint8_t opcode);
  void opMovDptr(std::uint8_t opcode);
  void opMovc(std::uint8_t opcode);
  void opMovx(std::uint8_t opcode);
  void opCarryLogic(std::uint8_t opcode);
  void opBitMove(std::uint8_t opcode);
  void opBitSet(std::uint8_t opcode);
  void opExchange(std::uint8_t opcode);
  void opPushPop(std::uint8_t opcode);

  CpuSurroundings& surroundings_;
  std::array<std::uint8_t, 65536> code_{};
  std::array<std::uint8_t, 256> iram_{};
  std::array<std::uint8_t, 128> sfr_{};
  std::array<std::uint8_t, 4> portInput_{0xFF, 0xFF, 0xFF, 0xFF};
  std::uint16_t pc_ = 0;
  std::uint64_t cycles_ = 0;
  std::uint8_t receiveBuffer_ = 0;
  bool transmitting_ = false;
  std::uint64_t transmitDoneAt_ = 0;  // cycle at which TI is set
};

}  // namespace kkm::sim::kia
