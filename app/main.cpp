// kkm-netnum: reads and writes the network number of a ТИМ-31Ц cash register
// over a serial port. One main window, one modal setup dialog, one thread.

#include <cstdlib>
#include <memory>

#include "serial/Platform.h"
#include "serial/TracingPort.h"
#include "service/Session.h"
#include "ui/Application.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxes.h"
#include "ui/SessionPresenter.h"

int main(int argc, char** argv) {
  // 0. The exchange trace, when --trace FILE or KKM_TRACE=FILE asks for it
  // (the option is taken out of the command line here).
  auto trace =
      kkm::serial::OpenTraceOrWarn(kkm::serial::TakeTracePath(argc, argv, std::getenv("KKM_TRACE")), stderr);

  // 1. The toolkit and the application title (set by Application).
  kkm::ui::QtMessageBoxes boxes;
  kkm::ui::Application app(argc, argv, boxes);

  // 2. The technician's session, on the machine's serial ports (traced when asked).
  const std::unique_ptr<kkm::serial::Platform> platform =
      kkm::serial::WithTrace(kkm::serial::MakeNativePlatform(), std::move(trace), "kkm-netnum");
  kkm::service::Session session(*platform);

  // 3. The main window, then the setup dialog it shows, and the work behind
  // their buttons.
  kkm::ui::TMainForm mainForm(boxes);
  kkm::ui::TInit_Com initCom(boxes);
  kkm::ui::SessionPresenter presenter(session, boxes, mainForm, initCom);

  // 4. Run until the main window closes; the session's end closes the port.
  mainForm.show();
  return app.exec();
}
