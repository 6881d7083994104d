#pragma once
// Windows only: a log-off or shutdown ends the program as SIGTERM does on
// Linux. The command in progress (an exchange with the register, which blocks
// the one window thread) runs to its end first; then every window is closed
// and the event loop ends, before Windows ends the process.
//
// Windows asks each program's top-level windows first (WM_QUERYENDSESSION)
// and then tells them (WM_ENDSESSION); when the last answer returns the
// process may be ended at any moment. The windows' own thread answers only
// between commands, and a program that does not answer within a few seconds is
// offered to the user for ending at once. So a hidden top-level window of a
// thread of its own answers instead: asked, it names the reason the session
// must wait (the reason Windows shows the user) until the window thread is free
// again, and agrees; told, it has the window thread close the windows and
// quit, and returns only then.

#include <QApplication>
#include <memory>

namespace kkm::app {

// The hidden window's class, by which a test finds it.
inline constexpr const wchar_t* kEndOfSessionWindowClass = L"kkm-netnum-end-of-session";

class EndOfSessionGuard {
 public:
  // Starts answering for `app`'s windows until destroyed; `app` outlives it.
  explicit EndOfSessionGuard(QApplication& app);
  ~EndOfSessionGuard();
  EndOfSessionGuard(const EndOfSessionGuard&) = delete;
  EndOfSessionGuard& operator=(const EndOfSessionGuard&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kkm::app
