// The Windows dialogs: real message boxes without an owner window. A box can
// be ended from another thread through its BoxCloser: the box's thread records
// the box window as it is activated, and the close action presses the box's
// own button by posting the command to it, so no thread is ever killed.
#include <windows.h>

#include <memory>
#include <mutex>

#include "platform/dialogs.hpp"
#include "platform/win32/selection_window.hpp"
#include "platform/win32/wide.hpp"

namespace vtsd::platform {

namespace {

// Shared by the showing thread (its CBT hook) and the closing thread.
struct OpenBox {
  std::mutex mutex;
  HWND window = nullptr;
  bool close_requested = false;
  int close_command = IDOK;  // the button that ends the box: OK, or No

  // Posts the ending command; call with the mutex held.
  void PressCloseButton() {
    if (!window) return;
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(close_command, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(window, close_command)));
  }
};

// The box being shown by this thread, for the hook below.
thread_local std::shared_ptr<OpenBox> t_open_box;
thread_local HHOOK t_hook = nullptr;

LRESULT CALLBACK BoxHook(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE && t_open_box) {
    const std::shared_ptr<OpenBox> box = t_open_box;
    std::lock_guard<std::mutex> lock(box->mutex);
    if (!box->window) {
      box->window = reinterpret_cast<HWND>(wparam);
      // A close that came while the box was being made is carried out now.
      if (box->close_requested) box->PressCloseButton();
    }
  }
  return ::CallNextHookEx(t_hook, code, wparam, lparam);
}

class Win32DialogProvider : public DialogProvider {
 public:
  BoxAnswer ShowMessageBox(const MessageBoxRequest& request, BoxCloser* closer) override {
    UINT flags = MB_SETFOREGROUND;
    auto box = std::make_shared<OpenBox>();
    switch (request.kind) {
      case BoxKind::Info:
      case BoxKind::Notice:
        flags |= MB_OK | MB_ICONINFORMATION;
        box->close_command = IDOK;
        break;
      case BoxKind::Question:
        flags |= MB_YESNO | MB_ICONQUESTION;
        box->close_command = IDNO;
        break;
    }
    if (closer && closer->IsClosed()) return BoxAnswer::Closed;

    t_open_box = box;
    t_hook = ::SetWindowsHookExW(WH_CBT, BoxHook, nullptr, ::GetCurrentThreadId());
    if (closer) {
      closer->SetCloseAction([box] {
        std::lock_guard<std::mutex> lock(box->mutex);
        box->close_requested = true;
        box->PressCloseButton();
      });
    }
    // The notice and the cancel question belong to an open selection window.
    const HWND owner = request.kind == BoxKind::Info ? nullptr : OpenSelectionWindow();
    const int answer = ::MessageBoxW(owner, Widen(request.text).c_str(),
                                     Widen(request.caption).c_str(), flags);
    if (closer) closer->SetCloseAction(nullptr);
    if (t_hook) ::UnhookWindowsHookEx(t_hook);
    t_hook = nullptr;
    t_open_box.reset();

    {
      std::lock_guard<std::mutex> lock(box->mutex);
      if (box->close_requested) return BoxAnswer::Closed;
    }
    switch (answer) {
      case IDOK: return BoxAnswer::Ok;
      case IDYES: return BoxAnswer::Yes;
      case IDNO: return BoxAnswer::No;
      case 0: return request.safe_answer;  // the box could not be shown
      default: return BoxAnswer::Closed;
    }
  }

  // The "WinForUser" window of the selection subsystem.
  SelectionWindowEvent WaitSelectionWindow(const SelectionWindowRequest& request) override {
    return WaitNativeSelectionWindow(request);
  }
  void CloseSelectionWindow() override { CloseNativeSelectionWindow(); }
};

}  // namespace

DialogProvider& DefaultDialogProvider() {
  static Win32DialogProvider provider;
  return provider;
}

}  // namespace vtsd::platform
