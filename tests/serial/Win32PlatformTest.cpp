// The Win32 back end on the platform's own serial service (under wine on
// Linux): port names, the DCB as the line settings fill it, the 1 ms tick and
// its waits, and ports that must not open. Exchanges over a real port run in
// the end-to-end test against kkm-sim.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "serial/Failure.h"
#include "serial/Platform.h"
#include "serial/SerialLine.h"
#include "serial/Win32Port.h"

namespace kkm::serial {
namespace {

TEST(Win32DeviceName, ComNamesGetTheDevicePrefixOtherNamesPassUnchanged) {
  const struct {
    const char* name;
    const char* device;
  } cases[] = {
      {"COM1", R"(\\.\COM1)"},
      {"COM4", R"(\\.\COM4)"},
      {"COM10", R"(\\.\COM10)"},
      {"COM255", R"(\\.\COM255)"},
      {"COM256", "COM256"},
      {R"(\\.\COM3)", R"(\\.\COM3)"},
      {"COM", "COM"},
      {"COM0", "COM0"},
      {"COM1A", "COM1A"},
      {"com1", "com1"},
      {"NUL", "NUL"},
  };
  for (const auto& c : cases) EXPECT_EQ(Win32DeviceName(c.name), c.device) << c.name;
}

// The settings OpenComPort applies, as the named DCB fields must carry them.
TEST(Win32Dcb, TheLineSettingsFillTheNamedFields) {
  DCB dcb{};
  dcb.EofChar = 0x1A;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.fDsrSensitivity = 1;  // reported by the port, not one of ours: cleared by the flag word
  LineSettings s;
  s.baudRate = kBaudRate;
  s.byteSize = 8;
  s.parity = Parity::Mark;
  s.stopBits = 0;
  s.xonLim = 1;
  s.xoffLim = 1;
  s.flags = kLineFlagWord;
  FillDcb(s, dcb);

  EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, MARKPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(dcb.XonLim, 1);
  EXPECT_EQ(dcb.XoffLim, 1);
  EXPECT_EQ(dcb.fBinary, 1u);
  EXPECT_EQ(dcb.fParity, 0u);
  EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
  EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
  EXPECT_EQ(dcb.fDsrSensitivity, 0u);
  EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  EXPECT_EQ(dcb.fErrorChar, 0u);
  EXPECT_EQ(dcb.fNull, 0u);
  EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
  EXPECT_EQ(dcb.fAbortOnError, 0u);
  // Fields the settings do not hold keep the port's values.
  EXPECT_EQ(dcb.EofChar, 0x1A);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(SettingsOfDcb(dcb), s);
}

TEST(Win32Dcb, EveryFlagBitAndParityRoundTrips) {
  std::vector<std::uint32_t> words = {0, 0x7FFF, kLineFlagWord};
  for (std::uint32_t bit = 0; bit < 15; ++bit) words.push_back(1u << bit);
  for (std::uint32_t word : words) {
    DCB dcb{};
    LineSettings s;
    s.flags = word;
    FillDcb(s, dcb);
    EXPECT_EQ(SettingsOfDcb(dcb).flags, word) << std::hex << word;
  }
  const struct {
    Parity parity;
    BYTE dcbParity;
  } parities[] = {{Parity::None, NOPARITY},
                  {Parity::Odd, ODDPARITY},
                  {Parity::Even, EVENPARITY},
                  {Parity::Mark, MARKPARITY},
                  {Parity::Space, SPACEPARITY}};
  for (const auto& p : parities) {
    DCB dcb{};
    LineSettings s;
    s.parity = p.parity;
    FillDcb(s, dcb);
    EXPECT_EQ(dcb.Parity, p.dcbParity);
    EXPECT_EQ(SettingsOfDcb(dcb).parity, p.parity);
  }
}

std::uint64_t ThreadCpuMs() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  const auto ms = [](const FILETIME& t) {
    return ((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 10'000;
  };
  return ms(kernel) + ms(user);
}

// A coarse counter (GetTickCount steps by 10-16 ms on Windows) would stretch
// every wait by up to a step.
TEST(Win32Clock, TicksInSingleMilliseconds) {
  const std::unique_ptr<Platform> platform = MakeNativePlatform();
  Clock& clock = platform->clock();
  std::vector<std::uint32_t> steps;
  std::uint32_t last = clock.tickMs();
  while (steps.size() < 20) {
    const std::uint32_t now = clock.tickMs();
    if (now != last) steps.push_back(now - last);
    last = now;
  }
  std::sort(steps.begin(), steps.end());
  EXPECT_EQ(steps.front(), 1u);
  EXPECT_LE(steps[steps.size() / 2], 2u) << "median step";
}

TEST(Win32Clock, WaitsEndJustPastTheirLimitWithoutBurningACore) {
  const std::unique_ptr<Platform> platform = MakeNativePlatform();
  Clock& clock = platform->clock();
  const std::uint64_t cpuBefore = ThreadCpuMs();
  const DWORD wallBefore = timeGetTime();
  const std::uint32_t start = clock.tickMs();
  DelayMs(clock, 200);
  const std::uint32_t elapsed = clock.tickMs() - start;
  const DWORD wall = timeGetTime() - wallBefore;
  const std::uint64_t cpu = ThreadCpuMs() - cpuBefore;
  EXPECT_GE(elapsed, 201u);
  EXPECT_LE(elapsed, 201u + 50u) << "generous: the machine may be busy";
  EXPECT_LT(cpu, wall / 4) << "a wait that spins uses its whole length in CPU time";
}

// Each refusal says why, as the connection's failure reason.
TEST(Win32Platform, PortsThatAreNotThereOrNotSerialDoNotOpen) {
  const std::unique_ptr<Platform> platform = MakeNativePlatform();
  char folder[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, folder), 0u);
  char file[MAX_PATH];
  ASSERT_NE(GetTempFileNameA(folder, "kkm", 0, file), 0u);

  const struct {
    std::string name;
    LineFailure reason;
    const char* what;
  } cases[] = {
      {"COM250", LineFailure::NoSuchDevice, "a port that is not there"},
      {"NUL", LineFailure::NotATerminal, "a character device without line settings"},
      {file, LineFailure::NotATerminal, "a frame must never be written into a file"},
  };
  for (const auto& c : cases) {
    ClearFailure();
    EXPECT_EQ(platform->openPort(c.name), nullptr) << c.what;
    EXPECT_TRUE(LastFailure().is(c.reason)) << c.what;
  }

  // Held by someone else (opened without sharing): in use.
  const HANDLE holder = CreateFileA(file, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ClearFailure();
  EXPECT_EQ(platform->openPort(file), nullptr);
  EXPECT_TRUE(LastFailure().is(LineFailure::PortInUse));
  CloseHandle(holder);
  DeleteFileA(file);
}

TEST(Win32Platform, TheTraceNamesTheDeviceAPortNameOpens) {
  const std::unique_ptr<Platform> platform = MakeNativePlatform();
  EXPECT_EQ(platform->devicePath("COM12"), R"(\\.\COM12)");
}

}  // namespace
}  // namespace kkm::serial
