// The serial line on Windows: the communications functions of the Win32 API,
// one call per operation of the port interface.

#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <cctype>

#include "serial/Failure.h"
#include "serial/Platform.h"
#include "serial/PortMap.h"
#include "serial/Win32Port.h"

namespace kkm::serial {

namespace {

// The bit fields of the DCB in the order of the flag word, with their widths.
struct FlagField {
  std::uint32_t shift;
  std::uint32_t width;
};
constexpr FlagField kBinary{0, 1};
constexpr FlagField kParityCheck{1, 1};
constexpr FlagField kOutxCtsFlow{2, 1};
constexpr FlagField kOutxDsrFlow{3, 1};
constexpr FlagField kDtrControl{4, 2};
constexpr FlagField kDsrSensitivity{6, 1};
constexpr FlagField kTxContinueOnXoff{7, 1};
constexpr FlagField kOutX{8, 1};
constexpr FlagField kInX{9, 1};
constexpr FlagField kErrorChar{10, 1};
constexpr FlagField kNull{11, 1};
constexpr FlagField kRtsControl{12, 2};
constexpr FlagField kAbortOnError{14, 1};

constexpr std::uint32_t Mask(FlagField f) { return ((1u << f.width) - 1) << f.shift; }
static_assert(Mask(kBinary) == kFlagBinary);
static_assert(Mask(kParityCheck) == kFlagParityCheck);
static_assert(Mask(kDtrControl) == kFlagDtrControlMask);
static_assert(Mask(kTxContinueOnXoff) == kFlagTxContinueOnXoff);
static_assert(Mask(kRtsControl) == kFlagRtsControlMask);
static_assert(std::uint32_t{RTS_CONTROL_HANDSHAKE} << kRtsControl.shift == kFlagRtsHandshake);

constexpr DWORD Field(std::uint32_t flags, FlagField f) { return (flags & Mask(f)) >> f.shift; }
constexpr std::uint32_t Packed(DWORD value, FlagField f) {
  return (std::uint32_t{value} << f.shift) & Mask(f);
}

BYTE DcbParity(Parity parity) {
  switch (parity) {
    case Parity::Odd:
      return ODDPARITY;
    case Parity::Even:
      return EVENPARITY;
    case Parity::Mark:
      return MARKPARITY;
    case Parity::Space:
      return SPACEPARITY;
    case Parity::None:
      break;
  }
  return NOPARITY;
}

Parity ParityOfDcb(BYTE parity) {
  switch (parity) {
    case ODDPARITY:
      return Parity::Odd;
    case EVENPARITY:
      return Parity::Even;
    case MARKPARITY:
      return Parity::Mark;
    case SPACEPARITY:
      return Parity::Space;
    default:
      return Parity::None;
  }
}

class Win32Port : public SerialPort {
 public:
  explicit Win32Port(HANDLE handle, const DCB& dcb) : handle_(handle), dcb_(dcb) {}
  ~Win32Port() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Win32Port(const Win32Port&) = delete;
  Win32Port& operator=(const Win32Port&) = delete;

  bool setBufferSizes(std::uint32_t input, std::uint32_t output) override {
    return SetupComm(handle_, input, output) != 0;
  }
  bool getSettings(LineSettings& settings) override {
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(handle_, &dcb)) return false;
    dcb_ = dcb;
    settings = SettingsOfDcb(dcb);
    return true;
  }
  // The fields the settings do not hold keep what the port last reported.
  bool setSettings(const LineSettings& settings) override {
    DCB dcb = dcb_;
    FillDcb(settings, dcb);
    if (!SetCommState(handle_, &dcb)) return false;
    dcb_ = dcb;
    return true;
  }
  bool getTimeouts(Timeouts& timeouts) override {
    COMMTIMEOUTS t{};
    if (!GetCommTimeouts(handle_, &t)) return false;
    timeouts = {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    return true;
  }
  bool setTimeouts(const Timeouts& timeouts) override {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = timeouts.readInterval;
    t.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
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
  // The port is opened for synchronous I/O, so it cannot wait for input with
  // a time limit: the clock's sleep to the next tick does the waiting.
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
  DCB dcb_;
};

// Why CreateFileA refused a port. Windows refuses a port another program
// holds with "access denied".
LineFailure OpenFailureCode(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return LineFailure::NoSuchDevice;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return LineFailure::PortInUse;
    default:
      return LineFailure::PortUnavailable;
  }
}

class Win32Platform : public Platform {
 public:
  // Exclusive, synchronous, existing devices only. Only a communications
  // device is kept: a file or another device that took the name is closed
  // again, so a frame is never written into it.
  std::unique_ptr<SerialPort> openPort(const std::string& name) override {
    return openResolved(name, resolvePort(name));
  }
  ResolvedPort resolvePort(const std::string& name) const override {
    ResolvedPort resolved = ResolvePort(name);
    if (resolved.problem.empty()) resolved.device = Win32DeviceName(resolved.device);
    return resolved;
  }
  std::unique_ptr<SerialPort> openResolved(const std::string&, const ResolvedPort& resolved) override {
    // A COM name that leads nowhere is never opened as anything else.
    if (!resolved.problem.empty()) {
      Fail(About(LineFailure::PortNameUnusable, resolved.problem));
      return nullptr;
    }
    const std::string& device = resolved.device;
    const HANDLE handle =
        CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      Fail({OpenFailureCode(GetLastError())});
      return nullptr;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    if (GetFileType(handle) != FILE_TYPE_CHAR || !GetCommState(handle, &dcb)) {
      CloseHandle(handle);
      Fail({LineFailure::NotATerminal});
      return nullptr;
    }
    return std::make_unique<Win32Port>(handle, dcb);
  }
  Clock& clock() override { return clock_; }
  // COMn as ResolvePort gives it (KKM_COMn, the port map, else COMn); empty
  // for a name that leads nowhere.
  std::string devicePath(const std::string& name) const override {
    return Win32DeviceName(ResolvePortName(name));
  }

 private:
  MultimediaClock clock_;
};

}  // namespace

std::string Win32DeviceName(const std::string& portName) {
  return ComPortNumber(portName) ? "\\\\.\\" + portName : portName;
}

void FillDcb(const LineSettings& settings, DCB& dcb) {
  dcb.DCBlength = sizeof(dcb);
  dcb.BaudRate = settings.baudRate;
  dcb.ByteSize = settings.byteSize;
  dcb.Parity = DcbParity(settings.parity);
  dcb.StopBits = settings.stopBits;
  dcb.XonLim = settings.xonLim;
  dcb.XoffLim = settings.xoffLim;
  const std::uint32_t f = settings.flags;
  dcb.fBinary = Field(f, kBinary);
  dcb.fParity = Field(f, kParityCheck);
  dcb.fOutxCtsFlow = Field(f, kOutxCtsFlow);
  dcb.fOutxDsrFlow = Field(f, kOutxDsrFlow);
  dcb.fDtrControl = Field(f, kDtrControl);
  dcb.fDsrSensitivity = Field(f, kDsrSensitivity);
  dcb.fTXContinueOnXoff = Field(f, kTxContinueOnXoff);
  dcb.fOutX = Field(f, kOutX);
  dcb.fInX = Field(f, kInX);
  dcb.fErrorChar = Field(f, kErrorChar);
  dcb.fNull = Field(f, kNull);
  dcb.fRtsControl = Field(f, kRtsControl);
  dcb.fAbortOnError = Field(f, kAbortOnError);
}

LineSettings SettingsOfDcb(const DCB& dcb) {
  LineSettings settings;
  settings.baudRate = dcb.BaudRate;
  settings.byteSize = dcb.ByteSize;
  settings.parity = ParityOfDcb(dcb.Parity);
  settings.stopBits = dcb.StopBits;
  settings.xonLim = dcb.XonLim;
  settings.xoffLim = dcb.XoffLim;
  settings.flags = Packed(dcb.fBinary, kBinary) | Packed(dcb.fParity, kParityCheck) |
                   Packed(dcb.fOutxCtsFlow, kOutxCtsFlow) | Packed(dcb.fOutxDsrFlow, kOutxDsrFlow) |
                   Packed(dcb.fDtrControl, kDtrControl) | Packed(dcb.fDsrSensitivity, kDsrSensitivity) |
                   Packed(dcb.fTXContinueOnXoff, kTxContinueOnXoff) | Packed(dcb.fOutX, kOutX) |
                   Packed(dcb.fInX, kInX) | Packed(dcb.fErrorChar, kErrorChar) | Packed(dcb.fNull, kNull) |
                   Packed(dcb.fRtsControl, kRtsControl) | Packed(dcb.fAbortOnError, kAbortOnError);
  return settings;
}

MultimediaClock::MultimediaClock() : periodSet_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

MultimediaClock::~MultimediaClock() {
  if (periodSet_) timeEndPeriod(1);
}

std::uint32_t MultimediaClock::tickMs() { return static_cast<std::uint32_t>(timeGetTime()); }

// With the timer period at 1 ms, Sleep(1) wakes at the next tick.
void MultimediaClock::letTimePass() { Sleep(1); }

std::unique_ptr<Platform> MakeNativePlatform() { return std::make_unique<Win32Platform>(); }

}  // namespace kkm::serial
