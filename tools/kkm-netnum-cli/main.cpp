// kkm-netnum-cli: reads, writes and lists the network numbers of ТИМ-31Ц cash
// registers over a serial port, for scripts and for commissioning many
// registers.

#include <cstdio>
#include <iostream>
#include <memory>

#ifdef _WIN32
#include <io.h>

#include "tools/kkm-netnum-cli/WindowsConsole.h"
#else
#include <unistd.h>
#endif

#include "serial/Platform.h"
#include "tools/kkm-netnum-cli/CliTool.h"

namespace {
bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) == 1;
#endif
}
}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // Cyrillic reads right in any console, whatever its code page.
  const kkm::cli::ConsoleOutput console;
#endif
  const std::unique_ptr<kkm::serial::Platform> platform = kkm::serial::MakeNativePlatform();
  return kkm::cli::RunCli(argc, argv, *platform, std::cout, std::cerr, StandardErrorIsTerminal());
}
