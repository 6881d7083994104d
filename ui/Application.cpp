#include "ui/Application.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#endif

namespace kkm::ui {

#ifdef Q_OS_UNIX
namespace {
// The self-pipe: the handler only writes a byte, the event loop reads it.
int gSignalPipe[2] = {-1, -1};

extern "C" void NoteTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}
}  // namespace
#endif

namespace {
bool gSessionEnding = false;
}  // namespace

void EndSession() {
  // The session that ends is the event loop's: once it has returned, a new
  // one (a test's next) starts afresh.
  static const bool resetsOnQuit = [] {
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { gSessionEnding = false; });
    return true;
  }();
  static_cast<void>(resetsOnQuit);
  gSessionEnding = true;
  QApplication::closeAllWindows();
  QCoreApplication::quit();
}

bool SessionEnding() { return gSessionEnding; }

QString StandardErrorText(const QString& message) {
  if (!message.isEmpty() && message.back().isLetterOrNumber()) return message + u'.';
  return message;
}

void ShowStandardError(MessageBoxes& boxes, const QString& message) {
  boxes.show(StandardErrorText(message), kApplicationTitle, MessageBoxes::Icon::Error);
}

void ShowStandardError(MessageBoxes& boxes, const std::exception& error) {
  ShowStandardError(boxes, QString::fromUtf8(error.what()));
}

void RunHandler(MessageBoxes& boxes, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowStandardError(boxes, error);
  }
}

std::unique_ptr<QTranslator> LoadToolkitTranslation() {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator.get()))
    return nullptr;
  return translator;
}

Application::Application(int& argc, char** argv, MessageBoxes& boxes)
    : QApplication(argc, argv), boxes_(&boxes) {
  setApplicationName(kProgramName);
  setDesktopFileName(kProgramName);
  QIcon icon;
  for (int size : {48, 64, 128}) icon.addFile(QStringLiteral(":/app/kkm-netnum-%1.png").arg(size));
  setWindowIcon(icon);
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowStandardError(*boxes_, error);
    return false;
  }
}

void Application::quitOnTerminationSignals() {
#ifdef Q_OS_UNIX
  if (signalsHandled_ || pipe2(gSignalPipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
  signalsHandled_ = true;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] {
    char drained[16];
    while (::read(gSignalPipe[0], drained, sizeof drained) > 0) {
    }
    EndSession();
  });
  struct sigaction action {};
  action.sa_handler = NoteTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
#endif
}

}  // namespace kkm::ui
