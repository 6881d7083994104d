// kkm-netnum: reads and writes the network number of a ТИМ-31Ц cash register
// over a serial port. One main window, one modal setup dialog, one thread.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "kkm/Version.h"
#include "serial/Platform.h"
#include "serial/PortMap.h"
#include "serial/TracingPort.h"
#include "service/Session.h"
#include "ui/Application.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxes.h"
#include "ui/SessionPresenter.h"

#ifdef _WIN32
#include "app/EndOfSession.h"
#endif

namespace {

// The command line: the toolkit's own options (-platform, -style, ...), which
// QApplication takes away first, then kkm-netnum's.
class CommandLine {
 public:
  CommandLine() : help_(parser_.addHelpOption()), version_(parser_.addVersionOption()) {
    // Taken out of the command line before the parser sees it; listed here for --help.
    parser_.addOption(QCommandLineOption(
        QStringLiteral("trace"),
        QStringLiteral("Append a trace of every exchange to <file> (- for standard error); "
                       "KKM_TRACE=<file> does the same, the option wins."),
        QStringLiteral("file")));
    parser_.setApplicationDescription(
        "Reads and changes the network number (1..99) of a cash register over a serial port,\n"
        "through the register's processor or through the KIA controller. COM1..COM4 are the devices\n"
        "named by the environment variables KKM_COM1..KKM_COM4, else by the port map\n"
        "(~/.config/kkm-netnum/ports.conf, one \"COMn = DEVICE\" a line; edit it with\n"
        "kkm-netnum-cli ports --map COM1 DEVICE), else /dev/ttyS0../dev/ttyS3.\n"
        "Each COM button's tooltip in the setup dialog names the device it leads to.");
  }

  // --help, --help-all and --version, answered before the toolkit starts so
  // that they need no display; each ends the program.
  void answerHelpOrVersion(int argc, char** argv) {
    const QCoreApplication core(argc, argv);
    parser_.parse(QCoreApplication::arguments());
    if (parser_.isSet(version_)) parser_.showVersion();
    if (parser_.isSet(help_)) parser_.showHelp();
    if (parser_.isSet(QStringLiteral("help-all"))) parser_.process(core);
  }

  // The arguments the toolkit left. False, after a message, for anything unknown.
  bool read(const QStringList& arguments) {
    if (parser_.parse(arguments) && parser_.positionalArguments().isEmpty()) return true;
    const QString error =
        parser_.positionalArguments().isEmpty()
            ? parser_.errorText()
            : QStringLiteral("Unexpected argument '%1'.").arg(parser_.positionalArguments().first());
    std::fprintf(stderr, "%s: %s\n", kkm::ui::kProgramName, qPrintable(error));
    return false;
  }

 private:
  QCommandLineParser parser_;
  QCommandLineOption help_;
  QCommandLineOption version_;
};

}  // namespace

int main(int argc, char** argv) {
  // 1. The command line; --help and --version end the run here. The trace
  // path (--trace FILE, else KKM_TRACE) is taken out of it first.
  const std::string tracePath = kkm::serial::TakeTracePath(argc, argv, std::getenv("KKM_TRACE"));
  QCoreApplication::setApplicationName(kkm::ui::kProgramName);
  QCoreApplication::setApplicationVersion(kkm::kVersion);
  CommandLine commandLine;
  commandLine.answerHelpOrVersion(argc, argv);
  // A trace path that cannot be written is reported here, and the tool runs on without.
  std::unique_ptr<kkm::serial::TraceSink> trace =
      kkm::serial::OpenTraceOrWarn(tracePath, stderr, "kkm-netnum");
  // The port map's problems, said once for the whole run.
  for (const std::string& problem : kkm::serial::ProblemLines(kkm::serial::LoadPortMap()))
    std::fprintf(stderr, "kkm-netnum: %s\n", problem.c_str());

  // 2. The toolkit (Application names the program and gives the windows their
  // icon), then the toolkit's own texts in Russian.
  kkm::ui::QtMessageBoxes boxes;
  kkm::ui::Application app(argc, argv, boxes);
  if (!commandLine.read(QCoreApplication::arguments())) return 1;
  const std::unique_ptr<QTranslator> toolkitTexts = kkm::ui::LoadToolkitTranslation();

  // 3. The technician's session, on the machine's serial ports, traced when asked.
  const std::unique_ptr<kkm::serial::Platform> platform =
      kkm::serial::WithTrace(kkm::serial::MakeNativePlatform(), std::move(trace), "kkm-netnum");
  kkm::service::Session session(*platform, kkm::ui::kProgramName);

  // 4. The main window, then the setup dialog it shows (its child, so the
  // desktop keeps the dialog above it), and the work behind their buttons.
  kkm::ui::TMainForm mainForm(boxes);
  kkm::ui::TInit_Com initCom(boxes, &mainForm);
  kkm::ui::SessionPresenter presenter(session, boxes, mainForm, initCom);

  // 5. Run until the main window closes, or a termination signal (on Windows
  // the end of the user's session) has let the command in progress finish;
  // the session's end closes the port.
  mainForm.show();
  app.quitOnTerminationSignals();
#ifdef _WIN32
  const kkm::app::EndOfSessionGuard endOfSession(app);
#endif
  return app.exec();
}
