// The serial line on Windows: the communications functions of the Win32 API,
// one call per operation of the port interface.

#include <windows.h>

#include <cstring>

#include "serial/Failure.h"
#include "serial/Platform.h"

namespace kkm::serial {

namespace {

class TickClock : public Clock {
 public:
  std::uint32_t tickMs() override { return static_cast<std::uint32_t>(GetTickCount()); }
  // Sleep(0) gives the rest of the time slice away without delaying the wait
  // by a whole scheduler tick.
  void letTimePass() override { Sleep(0); }
};

BYTE DcbParity(Parity parity) { return static_cast<BYTE>(parity); }

// The DCB bit fields packed into one word, in their declaration order.
DWORD PackedFlags(const DCB& dcb) {
  DWORD word = 0;
  static_assert(sizeof(DCB) > sizeof(DWORD) * 2);
  std::memcpy(&word, reinterpret_cast<const BYTE*>(&dcb) + sizeof(DWORD) * 2, sizeof(word));
  return word;
}

void SetPackedFlags(DCB& dcb, DWORD word) {
  std::memcpy(reinterpret_cast<BYTE*>(&dcb) + sizeof(DWORD) * 2, &word, sizeof(word));
}

class Win32Port : public SerialPort {
 public:
  explicit Win32Port(HANDLE handle) : handle_(handle) {}
  ~Win32Port() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  bool setBufferSizes(std::uint32_t input, std::uint32_t output) override {
    return SetupComm(handle_, input, output) != 0;
  }
  bool getSettings(LineSettings& settings) override {
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(handle_, &dcb)) return false;
    settings.baudRate = dcb.BaudRate;
    settings.byteSize = dcb.ByteSize;
    settings.parity = static_cast<Parity>(dcb.Parity);
    settings.stopBits = dcb.StopBits;
    settings.xonLim = dcb.XonLim;
    settings.xoffLim = dcb.XoffLim;
    settings.flags = PackedFlags(dcb);
    dcb_ = dcb;
    return true;
  }
  bool setSettings(const LineSettings& settings) override {
    DCB dcb = dcb_;
    dcb.DCBlength = sizeof(dcb);
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = DcbParity(settings.parity);
    dcb.StopBits = settings.stopBits;
    dcb.XonLim = settings.xonLim;
    dcb.XoffLim = settings.xoffLim;
    SetPackedFlags(dcb, settings.flags);
    return SetCommState(handle_, &dcb) != 0;
  }
  bool getTimeouts(Timeouts& timeouts) override {
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(handle_, &t)) return false;
    timeouts = {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    return true;
  }
  bool setTimeouts(const Timeouts& timeouts) override {
    COMMTIMEOUTS t{timeouts.readInterval, timeouts.readTotalMultiplier, timeouts.readTotalConstant,
                   timeouts.writeTotalMultiplier, timeouts.writeTotalConstant};
    return SetCommTimeouts(handle_, &t) != 0;
  }
  bool purge(std::uint32_t mask) override { return PurgeComm(handle_, mask) != 0; }
  bool clearDtr() override { return EscapeCommFunction(handle_, CLRDTR) != 0; }
  std::int32_t queuedInput() override {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status)) return -1;
    return static_cast<std::int32_t>(status.cbInQue);
  }
  std::int32_t read(std::uint8_t* buffer, std::uint32_t count) override {
    DWORD done = 0;
    if (!ReadFile(handle_, buffer, count, &done, nullptr)) return -1;
    return static_cast<std::int32_t>(done);
  }
  std::int32_t write(const std::uint8_t* data, std::uint32_t count) override {
    DWORD done = 0;
    if (!WriteFile(handle_, data, count, &done, nullptr)) return -1;
    return static_cast<std::int32_t>(done);
  }
  bool close() override {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
  DCB dcb_{};
};

class Win32Platform : public Platform {
 public:
  std::unique_ptr<SerialPort> openPort(const std::string& name) override {
    const HANDLE handle =
        CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      // Windows refuses a port another program holds with "access denied".
      const DWORD error = GetLastError();
      Fail({error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FailureCode::NoSuchDevice
            : error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? FailureCode::PortInUse
                                                                                 : FailureCode::PortUnavailable});
      return nullptr;
    }
    return std::make_unique<Win32Port>(handle);
  }
  Clock& clock() override { return clock_; }

 private:
  TickClock clock_;
};

}  // namespace

std::unique_ptr<Platform> MakeNativePlatform() { return std::make_unique<Win32Platform>(); }

}  // namespace kkm::serial
