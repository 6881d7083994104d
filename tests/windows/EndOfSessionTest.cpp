// A log-off asked while a command blocks the window thread is answered once the
// command has ended; the session's end then closes the windows and quits.

#include <gtest/gtest.h>
#include <windows.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <thread>

#include "app/EndOfSession.h"

TEST(EndOfSession, WaitsForTheCommandInProgressThenClosesTheWindows) {
  int argc = 1;
  char name[] = "end_of_session_tests";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QWidget window;
  window.show();
  const kkm::app::EndOfSessionGuard guard(app);
  const HWND answering = FindWindowW(kkm::app::kEndOfSessionWindowClass, nullptr);
  ASSERT_NE(answering, nullptr);

  std::atomic<bool> commandEnded{false};
  bool answeredFirst = true;
  LRESULT agreed = FALSE;
  std::thread session;
  QTimer::singleShot(0, &window, [&] {
    session = std::thread([&] {
      agreed = SendMessageW(answering, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
      answeredFirst = !commandEnded;
      SendMessageW(answering, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    });
    Sleep(300);  // the command in progress
    commandEnded = true;
  });
  QTimer::singleShot(5000, &window, [] { QApplication::exit(1); });  // no hang
  EXPECT_EQ(app.exec(), 0);
  session.join();
  EXPECT_EQ(agreed, TRUE);
  EXPECT_FALSE(answeredFirst) << "answered while the command was still running";
  EXPECT_FALSE(window.isVisible());
}
