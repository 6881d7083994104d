#include "service/Session.h"

#include "serial/SerialLine.h"

namespace kkm::service {

void ReportProgress(const Session& session, int step, int total) {
  if (session.progress) session.progress(step, total);
}

Session::~Session() {
  if (port.isOpen()) serial::CloseComPort(port);
}

}  // namespace kkm::service
