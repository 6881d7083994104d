#include "app/EndOfSession.h"

#include <windows.h>

#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "ui/Application.h"

namespace kkm::app {

namespace {
// Shown by Windows while the session waits for the program.
constexpr const wchar_t* kWaitReason = L"Идёт обмен с ККМ: запись сетевого номера не прерывается";
}  // namespace

struct EndOfSessionGuard::State {
  QApplication* app = nullptr;
  std::atomic<bool> stopping{false};
  std::promise<void> windowReady;
  DWORD threadId = 0;
  std::thread thread;

  // Runs `work` on the window thread between its commands and waits for it to
  // have run. False when the guard is ending meanwhile (the window thread has
  // left its event loop and never will run it).
  template <typename Work>
  bool onWindowThread(Work work) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    QMetaObject::invokeMethod(
        app,
        [done, work] {
          work();
          done->set_value();
        },
        Qt::QueuedConnection);
    while (finished.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      if (stopping) return false;
    }
    return true;
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
      state = static_cast<State*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    }
    if (state && message == WM_QUERYENDSESSION) {
      ShutdownBlockReasonCreate(window, kWaitReason);
      state->onWindowThread([] {});
      ShutdownBlockReasonDestroy(window);
      return TRUE;
    }
    if (state && message == WM_ENDSESSION) {
      if (wParam) {
        state->onWindowThread([] { ui::EndSession(); });
      }
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  void run() {
    threadId = GetCurrentThreadId();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kEndOfSessionWindowClass;
    RegisterClassW(&windowClass);
    // Top-level (not message-only) and never shown: Windows asks it at the end
    // of the session like any other window.
    const HWND window = CreateWindowExW(0, kEndOfSessionWindowClass, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                        nullptr, instance, this);
    // The message queue exists now, so the owner's WM_QUIT cannot be lost.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    windowReady.set_value();
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (window) DestroyWindow(window);
    UnregisterClassW(kEndOfSessionWindowClass, instance);
  }
};

EndOfSessionGuard::EndOfSessionGuard(QApplication& app) : state_(std::make_unique<State>()) {
  state_->app = &app;
  std::future<void> ready = state_->windowReady.get_future();
  state_->thread = std::thread([state = state_.get()] { state->run(); });
  ready.wait();
}

EndOfSessionGuard::~EndOfSessionGuard() {
  state_->stopping = true;
  PostThreadMessageW(state_->threadId, WM_QUIT, 0, 0);
  state_->thread.join();
}

}  // namespace kkm::app
