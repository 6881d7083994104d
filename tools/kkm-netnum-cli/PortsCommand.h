#pragma once
// kkm-netnum-cli ports: the machine's serial devices and the port map.
//
//   ports [--json]                    every serial device: its driver, for USB the
//                                     vendor:product, maker, product and serial, its
//                                     stable name, the COMn leading to it (and whether
//                                     KKM_COMn, the map or the default does), and the
//                                     other programs holding it
//   ports --map COMn DEVICE [--json]  maps COMn to DEVICE in the port map
//   ports --unmap COMn [--json]       removes COMn from the port map
//
// Editing keeps every other line of the map, comments included.

#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace kkm::cli {

inline constexpr int kExitMapNotSaved = 1;  // ports: the map file could not be read or written

struct PortsOptions {
  bool json = false;
  std::vector<std::string> map;  // COMn and DEVICE
  std::string unmap;
};

// Adds the "ports" command to `app`; its options go into `options`.
CLI::App* AddPortsCommand(CLI::App& app, PortsOptions& options);

int RunPorts(const PortsOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kkm::cli
