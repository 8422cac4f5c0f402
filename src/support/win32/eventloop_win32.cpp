// The UI loop on the thread's message queue. The timer queue of the base class
// is mirrored by one WM_TIMER on the hidden owner window, so the workflows'
// timers also fire while a task dialog or a message box runs its own modal
// loop, where only the platform dispatches messages.
#include <windows.h>

#include "support/eventloop.h"
#include "support/owner.h"

namespace qv {
namespace {

constexpr UINT_PTR kQueueTimerId = 1;
const wchar_t kOwnerClass[] = L"QuorvelHiddenOwner";

class WinEventLoop;
WinEventLoop* g_winLoop = nullptr;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

HWND CreateOwner() {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = OwnerProc;
  wc.hInstance = inst;
  wc.lpszClassName = kOwnerClass;
  RegisterClassExW(&wc);  // fails harmlessly when already registered
  // A real (hidden) top-level window: a message-only window cannot own dialogs.
  return CreateWindowExW(WS_EX_TOOLWINDOW, kOwnerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                         nullptr, inst, nullptr);
}

bool IsDialogMessageOfDialog(MSG& msg) {
  if (!msg.hwnd || msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
  HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  wchar_t cls[16] = {};
  if (!root || !GetClassNameW(root, cls, 16) || lstrcmpW(cls, L"#32770") != 0) return false;
  return IsDialogMessageW(root, &msg) != FALSE;
}

class WinEventLoop : public EventLoop {
 public:
  WinEventLoop() { g_winLoop = this; }
  ~WinEventLoop() override {
    if (g_winLoop == this) g_winLoop = nullptr;
    if (HWND owner = static_cast<HWND>(HiddenOwnerWindow())) KillTimer(owner, kQueueTimerId);
  }

  int64_t NowMs() const override { return static_cast<int64_t>(GetTickCount64()); }

  void OnQueueTimer() {
    if (HWND owner = static_cast<HWND>(HiddenOwnerWindow())) KillTimer(owner, kQueueTimerId);
    if (!RunDueTimers()) TimersChanged();
  }

 protected:
  bool WaitForInput(int64_t timeoutMs) override {
    DWORD timeout = timeoutMs == kWaitForever ? INFINITE
                    : timeoutMs > 0x7FFFFFFF  ? 0x7FFFFFFF
                                              : static_cast<DWORD>(timeoutMs);
    if (timeout != 0)
      MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    return PollInput();
  }

  bool PollInput() override {
    bool ran = false;
    MSG msg;
    // Only what is queued now: a handler that posts again must not keep us here.
    for (int i = 0; i < 256 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
      if (msg.message == WM_QUIT) {
        // Nobody else may lose it: put it back for the loop that asked to quit.
        PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      ran = true;
      // Keyboard navigation of a dialog shown meanwhile (Tab, Enter, Escape on
      // "Annuler") works while we pump, as in the dialog's own loop.
      if (IsDialogMessageOfDialog(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    return ran;
  }

  void TimersChanged() override {
    HWND owner = static_cast<HWND>(HiddenOwnerWindow());
    if (!owner) return;
    int64_t next = MsToNextTimer();
    if (next == kWaitForever) {
      KillTimer(owner, kQueueTimerId);
      return;
    }
    UINT ms = next < USER_TIMER_MINIMUM ? USER_TIMER_MINIMUM
              : next > 0x7FFFFFFF       ? 0x7FFFFFFF
                                        : static_cast<UINT>(next);
    SetTimer(owner, kQueueTimerId, ms, nullptr);
  }
};

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_TIMER && wp == kQueueTimerId) {
    if (g_winLoop) g_winLoop->OnQueueTimer();
    else KillTimer(hwnd, kQueueTimerId);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

void* HiddenOwnerWindow() {
  static HWND owner = CreateOwner();
  return owner;
}

std::unique_ptr<EventLoop> MakePlatformLoop() { return std::make_unique<WinEventLoop>(); }

}  // namespace qv
