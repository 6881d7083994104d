// kkm-netnum-cli: reads, writes and lists the network numbers of ТИМ-31Ц cash
// registers over a serial port, for scripts and for commissioning many
// registers.

#include <iostream>
#include <memory>

#include "serial/Platform.h"
#include "tools/kkm-netnum-cli/CliTool.h"

int main(int argc, char** argv) {
  const std::unique_ptr<kkm::serial::Platform> platform = kkm::serial::MakeNativePlatform();
  return kkm::cli::RunCli(argc, argv, *platform, std::cout, std::cerr);
}
