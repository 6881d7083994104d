#include "sim/kia/Cpu8051.h"

#include <bit>

namespace kkm::sim::kia {

namespace {

constexpr std::uint8_t kSconRi = 0x01;
constexpr std::uint8_t kSconTi = 0x02;
constexpr std::uint8_t kSconRen = 0x10;
constexpr std::uint8_t kResetSp = 0x07;
constexpr std::uint8_t kBitAreaBase = 0x20;

constexpr bool IsPort(std::uint8_t address) {
  return address >= 0x80 && (address & 0x0F) == 0 && address <= 0xB0;
}
constexpr unsigned PortIndex(std::uint8_t address) { return (address - 0x80u) >> 4; }

}  // namespace

Cpu8051::Cpu8051(CpuSurroundings& surroundings) : surroundings_(surroundings) { reset(); }

void Cpu8051::reset() {
  sfr_.fill(0);
  for (unsigned port = 0; port < 4; ++port) sfrRef(PortSfr(port)) = 0xFF;
  sfrRef(sfr::kSp) = kResetSp;
  pc_ = 0;
  transmitting_ = false;
}

unsigned Cpu8051::step() {
  // 1. A transmission that ended before this instruction sets TI.
  serviceUart();
  // 2. Fetch, count the instruction's cycles, then execute it, so that
  //    everything it does happens at the end of its last cycle.
  const std::uint8_t opcode = fetch();
  const Instruction& instruction = kDispatch[opcode];
  cycles_ += instruction.cycles;
  (this->*instruction.handler)(opcode);
  return instruction.cycles;
}

void Cpu8051::serviceUart() {
  if (transmitting_ && cycles_ >= transmitDoneAt_) {
    transmitting_ = false;
    sfrRef(sfr::kScon) |= kSconTi;
  }
}

void Cpu8051::receiveSerial(std::uint8_t byte) {
  serviceUart();
  std::uint8_t& scon = sfrRef(sfr::kScon);
  if ((scon & kSconRen) == 0 || (scon & kSconRi) != 0) return;  // receiver off, or overrun
  receiveBuffer_ = byte;
  scon |= kSconRi;
}

std::uint8_t Cpu8051::psw() const {
  const std::uint8_t stored = sfr_[sfr::kPsw - 0x80] & ~psw::kP;
  return stored | (std::popcount(sfr_[sfr::kAcc - 0x80]) & 1 ? psw::kP : 0);
}

std::uint16_t Cpu8051::dptr() const {
  return static_cast<std::uint16_t>(sfr_[sfr::kDph - 0x80] << 8 | sfr_[sfr::kDpl - 0x80]);
}

void Cpu8051::setDptr(std::uint16_t value) {
  sfrRef(sfr::kDph) = static_cast<std::uint8_t>(value >> 8);
  sfrRef(sfr::kDpl) = static_cast<std::uint8_t>(value);
}

std::uint16_t Cpu8051::fetch16() {
  const std::uint8_t high = fetch();
  return static_cast<std::uint16_t>(high << 8 | fetch());
}

std::uint8_t& Cpu8051::reg(unsigned n) {
  return iram_[(sfr_[sfr::kPsw - 0x80] & (psw::kRs1 | psw::kRs0)) + n];
}

void Cpu8051::setFlag(std::uint8_t flag, bool on) {
  std::uint8_t& value = sfrRef(sfr::kPsw);
  value = on ? (value | flag) : (value & ~flag);
}

// Internal RAM below 0x80; SFRs above. Ports read their pins unless the
// instruction reads, modifies and writes back (then the latch).
std::uint8_t Cpu8051::readDirectFor(std::uint8_t address, bool readModifyWrite) {
  if (address < 0x80) return iram_[address];
  if (IsPort(address) && !readModifyWrite) return sfrRef(address) & portInput_[PortIndex(address)];
  if (address == sfr::kSbuf) return receiveBuffer_;
  if (address == sfr::kPsw) return psw();
  return sfrRef(address);
}

void Cpu8051::writeDirect(std::uint8_t address, std::uint8_t value) {
  if (address < 0x80) {
    iram_[address] = value;
    return;
  }
  if (address == sfr::kSbuf) {
    // Writing SBUF starts a transmission; TI follows one character later.
    transmitting_ = true;
    transmitDoneAt_ = cycles_ + kMachineCyclesPerCharacter;
    surroundings_.serialTransmit(value);
    return;
  }
  std::uint8_t& target = sfrRef(address);
  const bool latchChanged = IsPort(address) && target != value;
  target = value;
  if (latchChanged) surroundings_.portLatchChanged(PortIndex(address), value);
}

bool Cpu8051::readBitFor(std::uint8_t bitAddress, bool readModifyWrite) {
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bitAddress & 7));
  if (bitAddress < 0x80) return (iram_[kBitAreaBase + (bitAddress >> 3)] & mask) != 0;
  return (readDirectFor(bitAddress & 0xF8, readModifyWrite) & mask) != 0;
}

void Cpu8051::writeBit(std::uint8_t bitAddress, bool value) {
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bitAddress & 7));
  if (bitAddress < 0x80) {
    std::uint8_t& byte = iram_[kBitAreaBase + (bitAddress >> 3)];
    byte = value ? (byte | mask) : (byte & ~mask);
    return;
  }
  const std::uint8_t address = bitAddress & 0xF8;
  const std::uint8_t old = readDirectFor(address, true);
  writeDirect(address, value ? (old | mask) : (old & ~mask));
}

void Cpu8051::push(std::uint8_t value) {
  std::uint8_t& sp = sfrRef(sfr::kSp);
  iram_[++sp] = value;
}

std::uint8_t Cpu8051::pop() {
  std::uint8_t& sp = sfrRef(sfr::kSp);
  return iram_[sp--];
}

Cpu8051::Operand Cpu8051::decodeOperand(std::uint8_t opcode) {
  const std::uint8_t low = opcode & 0x0F;
  if (low >= 8) return {Operand::Kind::Register, static_cast<std::uint8_t>(low - 8)};
  if (low >= 6) return {Operand::Kind::Indirect, static_cast<std::uint8_t>(low - 6)};
  if (low == 5) return {Operand::Kind::Direct, fetch()};
  return {Operand::Kind::Immediate, fetch()};
}

std::uint8_t Cpu8051::read(const Operand& operand, bool readModifyWrite) {
  switch (operand.kind) {
    case Operand::Kind::Immediate:
      return operand.address;
    case Operand::Kind::Direct:
      return readDirectFor(operand.address, readModifyWrite);
    case Operand::Kind::Indirect:
      return iram_[reg(operand.address)];
    case Operand::Kind::Register:
      break;
  }
  return reg(operand.address);
}

void Cpu8051::write(const Operand& operand, std::uint8_t value) {
  switch (operand.kind) {
    case Operand::Kind::Immediate:
      return;
    case Operand::Kind::Direct:
      writeDirect(operand.address, value);
      return;
    case Operand::Kind::Indirect:
      iram_[reg(operand.address)] = value;
      return;
    case Operand::Kind::Register:
      reg(operand.address) = value;
      return;
  }
}

}  // namespace kkm::sim::kia
