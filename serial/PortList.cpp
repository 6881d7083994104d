#include "serial/PortList.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "serial/PortMap.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <setupapi.h>

#include <map>
#else
#include <sys/sysmacros.h>

#include "serial/PosixPort.h"
#endif

namespace kkm::serial {

namespace {

namespace fs = std::filesystem;

// The COMn names that resolve to a device, given how a name is compared (a
// name that leads nowhere resolves to none).
template <typename Same>
std::vector<std::string> ComNamesOf(const PortMap& map, Same same) {
  std::vector<std::string> names;
  for (int n = 1; n <= kMaxComPortNumber; ++n) {
    const std::string name = "COM" + std::to_string(n);
    const std::string device = ResolvePortName(name, map);
    if (!device.empty() && same(device)) names.push_back(name);
  }
  return names;
}

#ifdef _WIN32

// The device setup class of serial and parallel ports.
constexpr GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// A text property of a device; empty when it has none.
std::string Property(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
  char text[512] = {};
  if (!SetupDiGetDeviceRegistryPropertyA(set, &info, property, nullptr, reinterpret_cast<BYTE*>(text),
                                         sizeof text - 1, nullptr))
    return {};
  return text;
}

// The four hex digits after `tag` ("VID_") in a device instance id.
std::string IdAfter(const std::string& instance, const char* tag) {
  const std::size_t at = instance.find(tag);
  return at == std::string::npos ? std::string() : instance.substr(at + 4, 4);
}

// What the device setup knows of each present port, by port name ("COM7"):
// the driver service, maker and friendly name and, for a USB device, the
// vendor:product and the serial number from its instance id
// ("USB\VID_0403&PID_6001\A10K1234"; a generated one holds '&').
std::map<std::string, SerialDevice> SetupDetails() {
  std::map<std::string, SerialDevice> details;
  const HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return details;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &info); ++index) {
    const HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char port[64] = {};
    DWORD size = sizeof port - 1;
    const bool named = RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(port),
                                        &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    if (!named) continue;
    SerialDevice& d = details[port];
    d.driver = Property(set, info, SPDRP_SERVICE);
    d.maker = Property(set, info, SPDRP_MFG);
    d.product = Property(set, info, SPDRP_FRIENDLYNAME);
    char id[512] = {};
    if (!SetupDiGetDeviceInstanceIdA(set, &info, id, sizeof id, nullptr)) continue;
    const std::string instance = id;
    if (const std::string vid = IdAfter(instance, "VID_"), pid = IdAfter(instance, "PID_");
        !vid.empty() && !pid.empty())
      d.usbId = vid + ":" + pid;
    const std::size_t last = instance.rfind('\\');
    if (instance.rfind("USB\\", 0) == 0 && last != std::string::npos &&
        instance.find('&', last) == std::string::npos)
      d.serial = instance.substr(last + 1);
  }
  SetupDiDestroyDeviceInfoList(set);
  return details;
}

#else

// The first line of a sysfs attribute; empty when there is none.
std::string Attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string value;
  std::getline(in, value);
  return value;
}

// The name of the folder a symlink leads to ("ftdi_sio" for .../drivers/ftdi_sio).
std::string LinkName(const fs::path& link) {
  std::error_code error;
  const fs::path target = fs::read_symlink(link, error);
  return error ? std::string() : target.filename().string();
}

// The same file whichever symlinks lead to it; the path itself where it does not exist.
std::string Identity(const fs::path& path) {
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(path, error);
  return error ? path.lexically_normal().string() : resolved.string();
}

// Fills the driver and the USB details by walking up from the port's device.
void DescribeParents(const fs::path& deviceDir, const fs::path& sysRoot, SerialDevice& found) {
  const fs::path top = Identity(sysRoot / "devices");
  for (fs::path dir = deviceDir; dir != top && dir != dir.parent_path(); dir = dir.parent_path()) {
    // The kernel's port and controller layer binds its own drivers below the real one.
    if (found.driver.empty() && fs::is_symlink(dir / "driver") &&
        LinkName(dir / "subsystem") != "serial-base")
      found.driver = LinkName(dir / "driver");
    if (fs::exists(dir / "idVendor")) {
      found.usbId = Attribute(dir / "idVendor") + ":" + Attribute(dir / "idProduct");
      found.maker = Attribute(dir / "manufacturer");
      found.product = Attribute(dir / "product");
      found.serial = Attribute(dir / "serial");
      return;
    }
  }
}

// The udev link leading to `device`: by-id first, as it names the adapter itself.
std::string StableName(const fs::path& devRoot, const std::string& device) {
  const std::string identity = Identity(device);
  for (const char* folder : {"serial/by-id", "serial/by-path"}) {
    std::error_code error;
    std::vector<fs::path> links;
    for (const fs::directory_entry& entry : fs::directory_iterator(devRoot / folder, error))
      links.push_back(entry.path());
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links)
      if (Identity(link) == identity) return link.string();
  }
  return {};
}

std::optional<SerialDevice> DescribeTty(const fs::path& ttyDir, const DeviceTree& tree, const PortMap& map) {
  const std::string name = ttyDir.filename().string();
  if (!fs::exists(ttyDir / "device")) return std::nullopt;
  // An on-board UART slot with no chip found behind it.
  if (fs::exists(ttyDir / "type") && Attribute(ttyDir / "type") == "0") return std::nullopt;
  SerialDevice found;
  found.device = (fs::path(tree.dev) / name).string();
  DescribeParents(Identity(ttyDir / "device"), tree.sys, found);
  found.stableName = StableName(tree.dev, found.device);
  const std::string identity = Identity(found.device);
  found.comNames =
      ComNamesOf(map, [&](const std::string& resolved) { return Identity(resolved) == identity; });
  unsigned major = 0, minor = 0;
  if (tree.holders && std::sscanf(Attribute(ttyDir / "dev").c_str(), "%u:%u", &major, &minor) == 2)
    found.holders = OtherHoldersOf(makedev(major, minor));
  return found;
}

#endif

}  // namespace

#ifdef _WIN32

std::vector<SerialDevice> ListSerialDevices(const DeviceTree&) {
  std::vector<SerialDevice> devices;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return devices;
  const PortMap map = LoadPortMap();
  const std::map<std::string, SerialDevice> details = SetupDetails();
  for (DWORD index = 0;; ++index) {
    char valueName[256];
    DWORD valueNameSize = sizeof valueName;
    BYTE data[256];
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    if (RegEnumValueA(key, index, valueName, &valueNameSize, nullptr, &type, data, &dataSize) !=
        ERROR_SUCCESS)
      break;
    if (type != REG_SZ) continue;
    data[dataSize] = 0;
    const std::string port = reinterpret_cast<const char*>(data);
    const auto known = details.find(port);
    SerialDevice found = known != details.end() ? known->second : SerialDevice{};
    found.device = port;
    // The kernel's device name ("\Device\VCP0") where setup names no driver service.
    if (found.driver.empty()) found.driver = valueName;
    // Windows keeps an adapter's COM name across re-plugging.
    found.stableName = found.device;
    found.comNames = ComNamesOf(map, [&](const std::string& resolved) {
      return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, resolved.c_str(), -1, found.device.c_str(),
                            -1) == CSTR_EQUAL;
    });
    devices.push_back(std::move(found));
  }
  RegCloseKey(key);
  std::sort(devices.begin(), devices.end(),
            [](const SerialDevice& a, const SerialDevice& b) { return a.device < b.device; });
  return devices;
}

#else

std::vector<SerialDevice> ListSerialDevices(const DeviceTree& tree) {
  std::vector<SerialDevice> devices;
  const PortMap map = LoadPortMap();
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(tree.sys) / "class/tty", error))
    if (std::optional<SerialDevice> found = DescribeTty(entry.path(), tree, map))
      devices.push_back(std::move(*found));
  std::sort(devices.begin(), devices.end(),
            [](const SerialDevice& a, const SerialDevice& b) { return a.device < b.device; });
  return devices;
}

#endif

std::string DescribeComPort(const std::string& comName, const std::vector<SerialDevice>& devices) {
  const ResolvedPort resolved = ResolvePort(comName);
  if (resolved.device.empty()) return comName + " → " + resolved.problem;
  for (const SerialDevice& d : devices) {
    if (std::find(d.comNames.begin(), d.comNames.end(), comName) == d.comNames.end()) continue;
    std::string text =
        comName + " → " + (d.stableName.empty() || d.stableName == comName ? d.device : d.stableName);
    std::string details;
    for (const std::string& detail : {d.maker, d.product})
      if (!detail.empty()) details += (details.empty() ? "" : ", ") + detail;
    return details.empty() ? text : text + " (" + details + ")";
  }
  return comName + " → " + resolved.device + " (устройство не найдено)";
}

}  // namespace kkm::serial
