#pragma once
// The serial devices this machine has, for a technician looking for the
// adapter to map.
//
// Linux: every entry of <sys>/class/tty backed by a device (virtual consoles
// and pseudo-terminals are not), less the on-board UART slots the kernel
// keeps without a chip behind them (type 0). The driver is the first one
// bound on the way up from the port (the kernel's own serial-base layer is
// passed over); a USB adapter's vendor:product, maker, product and serial come
// from the USB device above it; the stable name is the udev link under
// <dev>/serial/by-id (else by-path) that leads to it. Holders are the other
// processes that have its device number open.
//
// Windows: the ports the registry lists under HARDWARE\DEVICEMAP\SERIALCOMM,
// with what the device setup knows of them (driver service, maker, friendly
// name; for USB the vendor:product and serial from the instance id); the COM
// name is the stable one, and holders are not looked for (that would mean
// opening the port).

#include <optional>
#include <string>
#include <vector>

namespace kkm::serial {

struct SerialDevice {
  std::string device;  // "/dev/ttyUSB0", or "COM7" on Windows
  std::string driver;
  std::string usbId;  // "0403:6001"; empty when not a USB device
  std::string maker;
  std::string product;
  std::string serial;
  std::string stableName;             // a name that survives re-plugging; empty when none
  std::vector<std::string> comNames;  // the COMn names that lead to it now
  // The other processes holding it ("812 (minicom)"); nothing when not looked for.
  std::optional<std::vector<std::string>> holders;
};

// Where the system's device information is found; tests prepare their own.
struct DeviceTree {
  std::string sys = "/sys";
  std::string dev = "/dev";
  bool holders = true;  // look for the processes holding each device
};

// The machine's serial devices, ordered by device name. COMn names are those
// ResolvePortName gives with the current user's map.
std::vector<SerialDevice> ListSerialDevices(const DeviceTree& tree = {});

// What a COM name leads to now, in one line for a technician choosing a port:
// "COM1 → /dev/serial/by-id/usb-…-port0 (maker, product)" for a device among
// `devices` (its stable name where it has one; on Windows the product is the
// port's friendly name), the device alone when it is not among them, or why
// the name leads nowhere.
std::string DescribeComPort(const std::string& comName, const std::vector<SerialDevice>& devices);

}  // namespace kkm::serial
