// com_probe: the link code through the machine's own serial back end on COM1,
// for the end-to-end run under wine against kkm-sim (com_line_under_wine.sh).
//
//   com_probe cpu|kia
//
// Connects as the setup dialog does (processor link: address scan and version
// query; KIA link: the probe read), then reads the network number byte at its
// data-memory address, writes 0xBA (number 45) there and reads it back. Each
// step prints one line "name value"; the first failure prints "failed: step"
// on standard error and ends with exit code 1. Exit code 2: bad usage.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "kia/KiaUnit.h"
#include "memmap/MemoryMap.h"
#include "register/AddressDiscovery.h"
#include "register/MemoryCommands.h"
#include "serial/Platform.h"
#include "serial/SerialLine.h"

namespace {

using kkm::serial::PortHandle;

constexpr std::uint8_t kPortNumber = 1;
constexpr std::uint8_t kFortyFiveByte = 0xBA;
constexpr std::uint8_t kVersion105Character = 'i';

int Fail(const char* step) {
  std::fprintf(stderr, "failed: %s\n", step);
  return 1;
}

class Link {
 public:
  virtual ~Link() = default;
  virtual bool connect(PortHandle& port) = 0;
  virtual bool read(PortHandle& port, std::uint16_t address, std::uint8_t& value) = 0;
  virtual bool write(PortHandle& port, std::uint16_t address, std::uint8_t value) = 0;
};

class ProcessorLink : public Link {
 public:
  explicit ProcessorLink(const kkm::memmap::MemoryMap&) {}
  bool connect(PortHandle& port) override {
    if (!kkm::reg::FindRegisterAddress(port, address_)) return false;
    std::printf("address 0x%02X\n", address_);
    std::int32_t version = 0;
    if (!kkm::reg::ReadFirmwareVersion(port, address_, version)) return false;
    std::printf("firmware %d\n", static_cast<int>(version));
    return version == 105;
  }
  bool read(PortHandle& port, std::uint16_t address, std::uint8_t& value) override {
    return kkm::reg::ReadRegisterByte(port, address_, address, value).ok();
  }
  bool write(PortHandle& port, std::uint16_t address, std::uint8_t value) override {
    return kkm::reg::WriteRegisterByte(port, address_, address, value).ok();
  }

 private:
  std::uint8_t address_ = 0xFF;
};

class KiaLink : public Link {
 public:
  explicit KiaLink(const kkm::memmap::MemoryMap& map) : map_(map) {}
  bool connect(PortHandle& port) override {
    std::uint8_t value = 0;
    if (!kkm::kia::KiaReadMemory(port, map_.ProbeAddress(), value)) return false;
    std::printf("probe 0x%04X\n", map_.ProbeAddress());
    return true;
  }
  bool read(PortHandle& port, std::uint16_t address, std::uint8_t& value) override {
    return kkm::kia::KiaReadMemory(port, address, value).ok();
  }
  bool write(PortHandle& port, std::uint16_t address, std::uint8_t value) override {
    return kkm::kia::KiaWriteMemory(port, address, value).ok();
  }

 private:
  const kkm::memmap::MemoryMap& map_;
};

int Run(Link& link, std::uint16_t numberAddress) {
  const std::unique_ptr<kkm::serial::Platform> platform = kkm::serial::MakeNativePlatform();
  PortHandle port(platform->clock());
  if (!kkm::serial::OpenComPort(*platform, kPortNumber, port)) return Fail("open");
  if (!link.connect(port)) return Fail("connect");

  std::uint8_t before = 0;
  if (!link.read(port, numberAddress, before)) return Fail("read");
  std::printf("number-byte 0x%02X\n", before);
  if (!link.write(port, numberAddress, kFortyFiveByte)) return Fail("write");
  std::printf("written 0x%02X\n", kFortyFiveByte);
  std::uint8_t after = 0;
  if (!link.read(port, numberAddress, after)) return Fail("read-back");
  std::printf("read-back 0x%02X\n", after);
  if (!kkm::serial::CloseComPort(port)) return Fail("close");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = argc == 2 ? argv[1] : "";
  if (name != "cpu" && name != "kia") {
    std::fprintf(stderr, "usage: com_probe cpu|kia\n");
    return 2;
  }
  kkm::memmap::MemoryMap map;
  kkm::memmap::LoadMemoryMap(map, kVersion105Character);
  ProcessorLink processor(map);
  KiaLink kia(map);
  Link& link = name == "cpu" ? static_cast<Link&>(processor) : static_cast<Link&>(kia);
  const int code = Run(link, map.NetworkNumberAddress());
  std::fflush(stdout);
  return code;
}
