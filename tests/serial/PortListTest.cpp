// The serial-device listing on a prepared sysfs and /dev tree laid out as the
// kernel and udev lay them out: a USB adapter with its udev link, an on-board
// UART behind the kernel's serial-base layer, an empty UART slot and a
// console. The adapter's device number is that of a pseudo-terminal another
// process holds open.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "serial/PortList.h"
#include "serial/PortMap.h"
#include "tests/support/KeptFolder.h"

namespace kkm::serial {
namespace {

namespace fs = std::filesystem;

class PortList : public test::KeptFolderTest {
 protected:
  PortList() : KeptFolderTest("port-list-") {}
};

// Everything a listing shows of a device, on one line.
std::string Shown(const SerialDevice& d) {
  std::string com;
  for (const std::string& name : d.comNames) com += " " + name;
  return d.device + " | " + d.driver + " | " + d.usbId + " " + d.maker + " / " + d.product + " / " +
         d.serial + " | " + d.stableName + " |" + com;
}

TEST_F(PortList, ListsTheAdapterAndTheUartWithTheirDetailsNamesAndHolder) {
  int master = -1, slave = -1;
  char slaveName[256] = {};
  ASSERT_EQ(openpty(&master, &slave, slaveName, nullptr, nullptr), 0);
  struct stat st {};
  ASSERT_EQ(fstat(slave, &st), 0);
  ::close(slave);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, slaveName, O_RDONLY | O_NOCTTY, 0);
  const char* argv[] = {"sleep", "60", nullptr};
  pid_t holder = -1;
  ASSERT_EQ(posix_spawnp(&holder, "sleep", &actions, nullptr, const_cast<char**>(argv), environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  const std::string usb = "sys/devices/pci0000:00/usb1/1-1";
  const std::string uart = "sys/devices/pnp0/00:00";
  const std::string adapterDev = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  const std::string byId = "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";
  const std::pair<std::string, std::string> files[] = {
      {usb + "/idVendor", "0403"},
      {usb + "/idProduct", "6001"},
      {usb + "/manufacturer", "FTDI"},
      {usb + "/product", "FT232R USB UART"},
      {usb + "/serial", "A10K1234"},
      {"sys/class/tty/ttyUSB0/dev", adapterDev},
      {"sys/class/tty/ttyS0/type", "4"},
      {"sys/class/tty/ttyS0/dev", "4:64"},
      {"sys/class/tty/ttyS1/type", "0"},  // no chip in this slot
      {"sys/class/tty/tty1/dev", "4:1"},
      {"dev/ttyUSB0", ""},
      {"dev/ttyS0", ""}};
  const std::pair<std::string, std::string> links[] = {
      {usb + "/1-1:1.0/ttyUSB0/driver", "../../../../../../bus/usb-serial/drivers/ftdi_sio"},
      {"sys/class/tty/ttyUSB0/device", "../../../devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0"},
      {byId, "../../ttyUSB0"},
      {uart + "/driver", "../../../bus/pnp/drivers/serial"},
      {uart + "/00:00:0/driver", "../../../../bus/serial-base/drivers/ctrl"},
      {uart + "/00:00:0/subsystem", "../../../../bus/serial-base"},
      {uart + "/00:00:0/00:00:0.0/driver", "../../../../../bus/serial-base/drivers/port"},
      {uart + "/00:00:0/00:00:0.0/subsystem", "../../../../../bus/serial-base"},
      {"sys/class/tty/ttyS0/device", "../../../devices/pnp0/00:00/00:00:0/00:00:0.0"},
      {"sys/class/tty/ttyS1/device", "../../../devices/pnp0/00:00/00:00:0/00:00:0.0"}};
  for (const auto& [path, text] : files) {
    fs::create_directories(fs::path(file(path.c_str())).parent_path());
    std::ofstream(file(path.c_str())) << text << '\n';
  }
  for (const auto& [path, target] : links) {
    fs::create_directories(fs::path(file(path.c_str())).parent_path());
    fs::create_symlink(target, file(path.c_str()));
  }
  // COM3 by the stable name, COM4 by the plain one.
  fs::create_directories(fs::path(PortMapPath()).parent_path());
  std::ofstream(PortMapPath()) << "COM3 = " << file(byId.c_str()) << "\nCOM4 = " << file("dev/ttyUSB0")
                               << '\n';

  const std::vector<SerialDevice> devices = ListSerialDevices({file("sys"), file("dev")});
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  ::close(master);

  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(Shown(devices[0]), file("dev/ttyS0") + " | serial |   /  /  |  |");
  EXPECT_EQ(Shown(devices[1]), file("dev/ttyUSB0") +
                                   " | ftdi_sio | 0403:6001 FTDI / FT232R USB UART / A10K1234 | " +
                                   file(byId.c_str()) + " | COM3 COM4");
  EXPECT_EQ(devices[1].holders, std::vector<std::string>{std::to_string(holder) + " (sleep)"});
  // What the setup dialog's COM buttons tell: the stable name with maker and
  // product, or the device a name leads to when it is not present.
  EXPECT_EQ(DescribeComPort("COM3", devices), "COM3 → " + file(byId.c_str()) + " (FTDI, FT232R USB UART)");
  EXPECT_EQ(DescribeComPort("COM3", {}), "COM3 → " + file(byId.c_str()) + " (устройство не найдено)");
}

}  // namespace
}  // namespace kkm::serial
