#include "serial/SerialLine.h"

#include "serial/Failure.h"
#include "serial/Trace.h"

namespace kkm::serial {

std::string ComPortName(std::uint8_t portNumber) {
  std::string name = "COM";
  name.push_back(static_cast<char>(0x30 + portNumber));
  return name;
}

Status OpenComPort(Platform& platform, std::uint8_t portNumber, PortHandle& port) {
  return OpenNamedPort(platform, ComPortName(portNumber), port);
}

namespace {

// Steps 2 to 6 of opening a port, on what `opened` gave.
Status SetUpOpenedPort(std::unique_ptr<SerialPort> opened, PortHandle& port);

}  // namespace

Status OpenNamedPort(Platform& platform, const std::string& name, PortHandle& port) {
  // 1. Open by name and keep the result, a port or the invalid handle.
  ClearFailure();
  return SetUpOpenedPort(platform.openPort(name), port);
}

Status OpenResolvedPort(Platform& platform, const std::string& name, const ResolvedPort& resolved,
                        PortHandle& port) {
  ClearFailure();
  return SetUpOpenedPort(platform.openResolved(name, resolved), port);
}

namespace {

Status SetUpOpenedPort(std::unique_ptr<SerialPort> opened, PortHandle& port) {
  port.assign(std::move(opened));
  // 2. A port that does not exist or is in use (the platform may have said why).
  if (!port.isOpen()) return LastFailure().failed() ? LastFailure() : Failure{LineFailure::PortUnavailable};
  // 3. Driver buffers.
  port.setBufferSizes(kDriverBufferSize, kDriverBufferSize);
  // 4. Line settings: every field not listed keeps the platform's value.
  LineSettings settings;
  port.getSettings(settings);
  settings.baudRate = kBaudRate;
  settings.byteSize = 8;
  settings.parity = Parity::None;
  settings.stopBits = 0;
  settings.xonLim = 1;
  settings.xoffLim = 1;
  settings.flags = kLineFlagWord;
  port.setSettings(settings);
  // 5. Time-outs.
  port.setTimeouts(kPortTimeouts);
  // 6. Empty both buffers, lower DTR.
  port.purge(kPurgeClearBoth);
  port.clearDtr();
  return {};
}

}  // namespace

bool CloseComPort(PortHandle& port) {
  port.purge(kPurgeAbortAndClear);
  return port.close();
}

void SetAddressParity(PortHandle& port, bool mark) {
  LineSettings settings;
  port.getSettings(settings);
  settings.parity = mark ? Parity::Mark : Parity::Space;
  port.setSettings(settings);
  // An adapter that cannot send a ninth bit reads back another parity.
  LineSettings kept;
  if (port.getSettings(kept) && kept.parity != settings.parity) port.noteParityDropped();
}

bool WaitForInput(PortHandle& port, std::uint32_t count, std::uint32_t timeoutMs) {
  Clock& clock = port.clock();
  const std::uint32_t start = clock.tickMs();
  const std::uint32_t end = start + timeoutMs + 1;  // the first tick past the limit
  std::uint32_t queued = port.queuedInput();
  while (ElapsedMs(start, clock.tickMs()) <= timeoutMs && queued < count) {
    // Wait on the port until the whole count is queued or the limit has
    // passed; a port that cannot wait so is polled at every step of the
    // clock, and without a port nothing can come before the limit.
    if (!port.awaitInputUntil(count, end)) {
      if (port.isOpen())
        clock.letTimePass();
      else
        clock.letTimePassUntil(end);
    }
    queued = port.queuedInput();
  }
  if (TraceSink* trace = port.traceSink()) {
    trace->event("wait " + std::to_string(count) + " byte(s) up to " + std::to_string(timeoutMs) +
                 " ms: " + std::to_string(queued) + " queued after " +
                 std::to_string(ElapsedMs(start, clock.tickMs())) + " ms" +
                 (queued >= count ? "" : ", timed out"));
    trace->flush();
  }
  return queued >= count;
}

namespace {
void SpinUntilPast(Clock& clock, std::uint32_t limitMs) {
  const std::uint32_t start = clock.tickMs();
  const std::uint32_t end = start + limitMs + 1;
  while (ElapsedMs(start, clock.tickMs()) <= limitMs) clock.letTimePassUntil(end);
}
}  // namespace

void DelayMs(Clock& clock, std::uint32_t durationMs) { SpinUntilPast(clock, durationMs); }

void PauseMs(Clock& clock, std::uint32_t durationMs) { SpinUntilPast(clock, durationMs + 1); }

}  // namespace kkm::serial
