// One device script, one host program, two lines: the virtual line in virtual
// time and the pseudo-terminal server in real time. Both run the same line
// schedule, so the host reads the same bytes, the same bytes cross the line
// with the same parities, and every device byte keeps its distance from the
// host byte it answers (the devices time their replies from the moment a byte
// arrived, which is line time on both). Only the host's own pace differs.

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "serial/SerialLine.h"
#include "sim/line/Collision.h"
#include "sim/line/ScriptedDevice.h"
#include "sim/line/VirtualPlatform.h"
#include "sim/pty/PtyServer.h"
#include "tests/support/PtyHost.h"

namespace kkm::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Two devices on one line: the first answers the address at once and a frame
// with a long reply, the second answers the same frame a little later, so
// that their characters collide.
struct Devices {
  ScriptedDevice first;
  ScriptedDevice second;
  Devices() {
    Bytes reply(20);
    for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(0x40 + i);
    first.on({0xFE}, {0xFE}, 1.0).on({0x01, 0x14, 0xEA}, reply, 2.0).on({0x42}, {0x81}, 3.0);
    second.on({0xFE}, {}, 0.0).on({0x01, 0x14, 0xEA}, {}, 0.0).on({0x42}, {0xFF}, 3.5);
  }
};

struct Seen {
  Bytes read;                     // what the host read, in order
  std::vector<TraceEntry> trace;  // what crossed the line
};

// The host's side: the same calls on either line.
Bytes RunHost(serial::PortHandle& port) {
  Bytes read;
  const auto exchange = [&](serial::Parity parity, const Bytes& bytes, std::uint32_t replyCount) {
    serial::LineSettings settings;
    port.getSettings(settings);
    settings.parity = parity;
    port.setSettings(settings);
    port.write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    if (!serial::WaitForInput(port, replyCount, 2000)) return;
    Bytes reply(replyCount);
    port.read(reply.data(), replyCount);
    read.insert(read.end(), reply.begin(), reply.end());
  };
  exchange(serial::Parity::Mark, {0xFE}, 1);
  exchange(serial::Parity::Space, {0x01, 0x14, 0xEA}, 20);
  exchange(serial::Parity::None, {0x42}, 1);
  return read;
}

// Both devices on `line`, behind a host UART with a 16550's FIFO.
template <typename Line>
void Wire(Line& line, Devices& devices) {
  line.attach(devices.first);
  line.attach(devices.second);
  line.setHostReceiveFifo(14, 4);
}

Seen OnVirtualLine() {
  Devices devices;
  VirtualLine line;
  Wire(line, devices);
  VirtualPlatform platform(line);
  platform.addPort("COM1", line);
  serial::PortHandle port(platform.clock());
  if (!serial::OpenComPort(platform, 1, port)) return {};
  Seen seen;
  seen.read = RunHost(port);
  serial::CloseComPort(port);
  seen.trace = line.trace();
  return seen;
}

Seen OnPseudoTerminal() {
  Devices devices;
  PtyServer server;
  Wire(server, devices);
  PtyHost host(server.slavePath());
  std::thread serving([&server] { server.run(); });
  Seen seen;
  if (host.open()) {
    seen.read = RunHost(host.port());
    host.close();
  }
  server.requestStop();
  serving.join();
  seen.trace = server.trace();
  return seen;
}

// Each device byte's end, counted from the end of the last host byte before it.
std::vector<SimTime> ReplyOffsets(const std::vector<TraceEntry>& trace) {
  std::vector<SimTime> offsets;
  SimTime lastHostEnd = 0;
  for (const TraceEntry& e : trace) {
    if (e.direction == Direction::HostToDevice)
      lastHostEnd = e.end;
    else
      offsets.push_back(e.end - lastHostEnd);
  }
  return offsets;
}

std::vector<TraceEntry> WithoutTimes(std::vector<TraceEntry> trace) {
  for (TraceEntry& e : trace) e.start = e.end = 0;
  return trace;
}

TEST(SameLine, TheHostSeesTheSameFromTheVirtualLineAndThePseudoTerminal) {
  const Seen virtualLine = OnVirtualLine();
  const Seen pty = OnPseudoTerminal();

  // The script really collides: 0x81 and 0xFF overlap into one garbled byte.
  ASSERT_EQ(virtualLine.read.size(), 22u);
  EXPECT_EQ(virtualLine.read.back(), CollidedByte(0x81, 0xFF));

  EXPECT_EQ(pty.read, virtualLine.read);
  EXPECT_EQ(WithoutTimes(pty.trace), WithoutTimes(virtualLine.trace));
  EXPECT_EQ(ReplyOffsets(pty.trace), ReplyOffsets(virtualLine.trace));
}

}  // namespace
}  // namespace kkm::sim
