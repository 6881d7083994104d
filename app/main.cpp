// kkm-netnum: reads and writes the network number of a ТИМ-31Ц cash register
// over a serial port. One main window, one modal setup dialog, one thread.

#include <memory>

#include "serial/Platform.h"
#include "ui/AppState.h"
#include "ui/Application.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxes.h"
#include "ui/Wiring.h"

int main(int argc, char** argv) {
  // 1. The toolkit and the application title (set by Application).
  kkm::ui::QtMessageBoxes boxes;
  kkm::ui::Application app(argc, argv, boxes);

  // 2. The state shared by the windows, on the machine's serial ports.
  const std::unique_ptr<kkm::serial::Platform> platform = kkm::serial::MakeNativePlatform();
  kkm::ui::AppState state(*platform);

  // 3. The main window, then the setup dialog it shows, and the work behind
  // their buttons.
  kkm::ui::TMainForm mainForm(state, boxes);
  kkm::ui::TInit_Com initCom(state, boxes);
  kkm::ui::WireWindows(mainForm, initCom);

  // 4. Run until the main window closes, or a termination signal has let the
  // command in progress finish; destroying the window closes the port.
  mainForm.show();
  app.quitOnTerminationSignals();
  return app.exec();
}
