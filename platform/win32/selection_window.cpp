#include "platform/win32/selection_window.hpp"

#include <string>
#include <vector>

#include "platform/win32/wide.hpp"

namespace vtsd::platform {

namespace {

constexpr wchar_t kClassName[] = L"WinForUser";
constexpr wchar_t kMenuName[] = L"Vemlar TSD";
constexpr int kListId = 257;
constexpr int kOkId = 258;
constexpr int kCancelId = 259;
constexpr DWORD kOkStyle = WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON;  // 0x50000001
constexpr DWORD kCancelStyle = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;  // 0x50000000
constexpr DWORD kSourceListStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | LBS_HASSTRINGS;  // 0x50200041
constexpr DWORD kDocumentListStyle = kSourceListStyle | LBS_EXTENDEDSEL;                           // 0x50200841

// The one selection window (only one can exist: the loop does not return
// while it waits).
struct NativeWindowState {
  bool choose_source = false;
  HWND windowHandle = nullptr;
  HWND okButton = nullptr;
  HWND cancelButton = nullptr;
  HWND listHandle = nullptr;
  bool isRunning = false;        // the loop goes on until an event is pending
  bool destroying_ourselves = false;
  bool class_registered = false;
  WNDCLASSW windowClass{};
  SelectionWindowEvent pending;
};

NativeWindowState& State() {
  static NativeWindowState state;
  return state;
}

void Report(SelectionWindowEvent::Kind kind, std::vector<int> selected = {}) {
  NativeWindowState& s = State();
  s.pending.kind = kind;
  s.pending.selected = std::move(selected);
  s.isRunning = false;
}

// The lines selected when OK is pressed, in list order.
std::vector<int> SelectedLines() {
  NativeWindowState& s = State();
  if (s.choose_source) {
    const LRESULT current = ::SendMessageW(s.listHandle, LB_GETCURSEL, 0, 0);
    if (current == LB_ERR) return {};  // nothing selected
    return {static_cast<int>(current)};
  }
  const LRESULT count = ::SendMessageW(s.listHandle, LB_GETSELCOUNT, 0, 0);
  if (count == LB_ERR) return {-1};
  if (count <= 0) return {};
  std::vector<int> indices(static_cast<size_t>(count));
  const LRESULT got = ::SendMessageW(s.listHandle, LB_GETSELITEMS, static_cast<WPARAM>(count),
                                     reinterpret_cast<LPARAM>(indices.data()));
  if (got == LB_ERR || got < 0) return {-1};
  indices.resize(static_cast<size_t>(got));
  return indices;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  NativeWindowState& s = State();
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int notification = HIWORD(wparam);
      if (notification == BN_CLICKED && id == kOkId) {
        Report(SelectionWindowEvent::Ok, SelectedLines());
      } else if (notification == BN_CLICKED && id == kCancelId) {
        Report(SelectionWindowEvent::Cancel);
      }
      return 0;
    }
    case WM_CLOSE:
      // Only a confirmed cancel closes the window.
      Report(SelectionWindowEvent::Close);
      return 0;
    case WM_DESTROY:
      if (!s.destroying_ourselves) Report(SelectionWindowEvent::Destroyed);
      s.isRunning = false;
      return 0;
    default:
      return ::DefWindowProcW(window, message, wparam, lparam);
  }
}

void RegisterWindowClass() {
  NativeWindowState& s = State();
  WNDCLASSW& wc = s.windowClass;
  wc = WNDCLASSW{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = WindowProcedure;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = nullptr;
  wc.hIcon = ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_ASTERISK));
  wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_SCROLLBAR + 1));
  wc.lpszMenuName = kMenuName;
  wc.lpszClassName = kClassName;
  // A class left by an earlier window is used as it is.
  if (::RegisterClassW(&wc) != 0) s.class_registered = true;
}

bool CreateSelectionWindow(const SelectionWindowRequest& request) {
  NativeWindowState& s = State();
  s.choose_source = request.choose_source;
  RegisterWindowClass();
  s.destroying_ourselves = false;
  s.windowHandle = ::CreateWindowExW(0, kClassName, Widen(request.caption).c_str(), WS_OVERLAPPED, 350, 300, 240,
                                     250, nullptr, nullptr, nullptr, nullptr);
  if (s.windowHandle == nullptr) return false;
  s.okButton = ::CreateWindowExW(0, L"BUTTON", Widen(request.ok_text).c_str(), kOkStyle, 4, 197, 70, 25,
                                 s.windowHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kOkId)), nullptr,
                                 nullptr);
  s.cancelButton = ::CreateWindowExW(0, L"BUTTON", Widen(request.cancel_text).c_str(), kCancelStyle, 170, 197, 60,
                                     25, s.windowHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCancelId)),
                                     nullptr, nullptr);
  s.listHandle = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"",
                                   request.choose_source ? kSourceListStyle : kDocumentListStyle, 0, 0, 233, 200,
                                   s.windowHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kListId)), nullptr,
                                   nullptr);
  for (const std::string& item : request.items) {
    ::SendMessageW(s.listHandle, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
  }
  ::ShowWindow(s.windowHandle, SW_SHOWNORMAL);
  ::UpdateWindow(s.windowHandle);
  return true;
}

}  // namespace

SelectionWindowEvent WaitNativeSelectionWindow(const SelectionWindowRequest& request) {
  NativeWindowState& s = State();
  if (s.windowHandle == nullptr && !CreateSelectionWindow(request)) {
    // No window to choose in: reported as lines that cannot be read, so the
    // call fails with the window-building message rather than as a cancel.
    SelectionWindowEvent failed;
    failed.kind = SelectionWindowEvent::Ok;
    failed.selected = {-1};
    return failed;
  }
  s.pending = SelectionWindowEvent{};
  s.isRunning = true;
  // Only the selection window's own messages (and its controls') are fetched:
  // the host's windows wait until the choice is made.
  MSG msg;
  while (s.isRunning) {
    const BOOL got = ::GetMessageW(&msg, s.windowHandle, 0, 0);
    if (got == 0) {
      Report(SelectionWindowEvent::Destroyed);
      break;
    }
    if (got == -1) {
      // A window that is gone can deliver nothing more.
      if (!::IsWindow(s.windowHandle)) Report(SelectionWindowEvent::Destroyed);
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  if (s.pending.kind == SelectionWindowEvent::Destroyed) s.windowHandle = nullptr;
  return s.pending;
}

void CloseNativeSelectionWindow() {
  NativeWindowState& s = State();
  if (s.windowHandle != nullptr && ::IsWindow(s.windowHandle)) {
    s.destroying_ourselves = true;
    ::DestroyWindow(s.windowHandle);
  }
  s.windowHandle = s.okButton = s.cancelButton = s.listHandle = nullptr;
  s.isRunning = false;
  // The class names this module's window procedure: dropping it means a
  // later load of the module never meets a class whose procedure is gone.
  if (s.class_registered) {
    ::UnregisterClassW(kClassName, nullptr);
    s.class_registered = false;
  }
}

HWND OpenSelectionWindow() { return State().windowHandle; }

}  // namespace vtsd::platform
