// The serial-device listing on a prepared sysfs and /dev tree laid out as the
// kernel and udev lay them out: a USB adapter with its udev link, an on-board
// UART behind the kernel's serial-base layer, an empty UART slot and a
// virtual console. The adapter's device number is that of a pseudo-terminal
// another process holds open.

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

  // A sysfs attribute or any small file, with its folders.
  void put(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(file(path.c_str())).parent_path());
    std::ofstream(file(path.c_str())) << text << '\n';
  }
  // A symlink at `path` to `target` (relative to the link's folder), with its folders.
  void link(const std::string& path, const std::string& target) {
    fs::create_directories(fs::path(file(path.c_str())).parent_path());
    fs::create_symlink(target, file(path.c_str()));
  }
};

TEST_F(PortList, ListsTheAdapterAndTheUartWithTheirDetailsNamesAndHolder) {
  // A process holding the pseudo-terminal that stands for the adapter.
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
  put(usb + "/idVendor", "0403");
  put(usb + "/idProduct", "6001");
  put(usb + "/manufacturer", "FTDI");
  put(usb + "/product", "FT232R USB UART");
  put(usb + "/serial", "A10K1234");
  fs::create_directories(file("sys/bus/usb-serial/drivers/ftdi_sio"));
  link(usb + "/1-1:1.0/ttyUSB0/driver", "../../../../../../bus/usb-serial/drivers/ftdi_sio");
  link("sys/class/tty/ttyUSB0/device", "../../../devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0");
  put("sys/class/tty/ttyUSB0/dev", std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
  put("dev/ttyUSB0", "");
  link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0", "../../ttyUSB0");

  const std::string uart = "sys/devices/pnp0/00:00";
  for (const char* driver : {"bus/pnp/drivers/serial", "bus/serial-base/drivers/ctrl", "bus/serial-base/drivers/port"})
    fs::create_directories(file((std::string("sys/") + driver).c_str()));
  link(uart + "/driver", "../../../bus/pnp/drivers/serial");
  link(uart + "/00:00:0/driver", "../../../../bus/serial-base/drivers/ctrl");
  link(uart + "/00:00:0/subsystem", "../../../../bus/serial-base");
  link(uart + "/00:00:0/00:00:0.0/driver", "../../../../../bus/serial-base/drivers/port");
  link(uart + "/00:00:0/00:00:0.0/subsystem", "../../../../../bus/serial-base");
  link("sys/class/tty/ttyS0/device", "../../../devices/pnp0/00:00/00:00:0/00:00:0.0");
  put("sys/class/tty/ttyS0/type", "4");
  put("sys/class/tty/ttyS0/dev", "4:64");
  put("dev/ttyS0", "");
  link("sys/class/tty/ttyS1/device", "../../../devices/pnp0/00:00/00:00:0/00:00:0.0");
  put("sys/class/tty/ttyS1/type", "0");  // no chip behind this slot
  put("sys/class/tty/tty1/dev", "4:1");  // a console: no device

  // COM3 names the adapter by its stable name, COM4 by its plain one.
  fs::create_directories(fs::path(PortMapPath()).parent_path());
  std::ofstream(PortMapPath()) << "COM3 = " << file("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0")
                               << "\nCOM4 = " << file("dev/ttyUSB0") << "\n";

  const std::vector<SerialDevice> devices = ListSerialDevices({file("sys"), file("dev")});
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  ::close(master);

  ASSERT_EQ(devices.size(), 2u);
  const SerialDevice& uartPort = devices[0];
  EXPECT_EQ(uartPort.device, file("dev/ttyS0"));
  EXPECT_EQ(uartPort.driver, "serial");
  EXPECT_EQ(uartPort.usbId, "");
  EXPECT_EQ(uartPort.stableName, "");
  EXPECT_EQ(uartPort.comNames, std::vector<std::string>{});
  const SerialDevice& adapter = devices[1];
  EXPECT_EQ(adapter.device, file("dev/ttyUSB0"));
  EXPECT_EQ(adapter.driver, "ftdi_sio");
  EXPECT_EQ(adapter.usbId, "0403:6001");
  EXPECT_EQ(adapter.maker, "FTDI");
  EXPECT_EQ(adapter.product, "FT232R USB UART");
  EXPECT_EQ(adapter.serial, "A10K1234");
  EXPECT_EQ(adapter.stableName, file("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0"));
  EXPECT_EQ(adapter.comNames, (std::vector<std::string>{"COM3", "COM4"}));
  ASSERT_TRUE(adapter.holders);
  EXPECT_EQ(*adapter.holders, std::vector<std::string>{std::to_string(holder) + " (sleep)"});
}

}  // namespace
}  // namespace kkm::serial
