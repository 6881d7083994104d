// Termination signals end the program like a request to close its windows:
// the command in progress (a click handler that blocks the one thread, as the
// exchanges do) runs to its end first; while idle the program quits at once.

#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include <QTimer>
#include <QWidget>
#include <chrono>

#include "tests/support/TestApplication.h"
#include "ui/Application.h"

namespace kkm::ui {
namespace {

using test::App;

// Blocks for `ms` of real time whatever signals arrive meanwhile, as a
// command's busy waits do.
void Busy(int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    const timespec pause{0, 1'000'000};
    nanosleep(&pause, nullptr);
  }
}

TEST(TerminationSignals, LetTheCommandInProgressFinishThenQuit) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    QWidget window;
    window.show();
    App().quitOnTerminationSignals();
    bool commandFinished = false;
    bool quitBeforeFinishing = false;
    QTimer::singleShot(0, &window, [&] {
      raise(signal);
      Busy(100);
      quitBeforeFinishing = !window.isVisible();
      commandFinished = true;
    });
    // A program that does not quit fails here instead of hanging.
    QTimer::singleShot(5000, &window, [] { QApplication::exit(1); });
    EXPECT_EQ(App().exec(), 0);
    EXPECT_TRUE(commandFinished);
    EXPECT_FALSE(quitBeforeFinishing);
    EXPECT_FALSE(window.isVisible()) << "the windows were closed";
  }
}

TEST(TerminationSignals, QuitAtOnceWhenIdle) {
  QWidget window;
  window.show();
  App().quitOnTerminationSignals();
  QTimer::singleShot(0, &window, [] { raise(SIGTERM); });
  QTimer::singleShot(5000, &window, [] { QApplication::exit(1); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(App().exec(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace kkm::ui
