#include "tools/vtsd-host/window_automation.hpp"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/wide.hpp"

namespace vtsd::host {

namespace {

using Press = DialogAction::Press;

constexpr auto kPollInterval = std::chrono::milliseconds(15);
constexpr UINT kSendTimeoutMs = 2000;

std::string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0) return std::string();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(window, &text[0], length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return platform::Narrow(text);
}

std::string ClassName(HWND window) {
  wchar_t name[64] = {};
  const int n = ::GetClassNameW(window, name, 64);
  return platform::Narrow(name, n > 0 ? static_cast<size_t>(n) : 0);
}

bool SameClass(const std::string& a, const char* b) {
  return ::lstrcmpiA(a.c_str(), b) == 0;
}

// A button's label as a person reads it: without the mnemonic marks.
std::string Label(HWND button) {
  std::string text = WindowText(button);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size() && text[i + 1] != '&') continue;
    if (text[i] == '&') ++i;
    out += text[i];
  }
  return out;
}

struct Child {
  HWND window;
  std::string cls;
  RECT rect;
};

BOOL CALLBACK AddVisibleChild(HWND child, LPARAM param) {
  if (::IsWindowVisible(child)) {
    Child c{child, ClassName(child), {}};
    ::GetWindowRect(child, &c.rect);
    reinterpret_cast<std::vector<Child>*>(param)->push_back(c);
  }
  return TRUE;
}

std::vector<Child> VisibleChildren(HWND parent) {
  std::vector<Child> children;
  ::EnumChildWindows(parent, AddVisibleChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

// Visible top-level windows of this process.
BOOL CALLBACK AddOwnWindow(HWND window, LPARAM param) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(window))
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  return TRUE;
}

// Buttons left to right (then top to bottom).
std::vector<HWND> Buttons(const std::vector<Child>& children) {
  std::vector<const Child*> buttons;
  for (const Child& c : children)
    if (SameClass(c.cls, "Button")) buttons.push_back(&c);
  std::sort(buttons.begin(), buttons.end(), [](const Child* a, const Child* b) {
    return a->rect.left != b->rect.left ? a->rect.left < b->rect.left
                                        : a->rect.top < b->rect.top;
  });
  std::vector<HWND> out;
  for (const Child* c : buttons) out.push_back(c->window);
  return out;
}

HWND FindChild(const std::vector<Child>& children, const char* cls) {
  for (const Child& c : children)
    if (SameClass(c.cls, cls)) return c.window;
  return nullptr;
}

bool IsMessageBox(HWND window) { return ClassName(window) == "#32770"; }

LRESULT SendWithTimeout(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result))
    return -1;
  return static_cast<LRESULT>(result);
}

std::vector<std::string> ListItems(HWND list) {
  std::vector<std::string> items;
  const LRESULT count = SendWithTimeout(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendWithTimeout(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0) {
      items.emplace_back();
      continue;
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = SendWithTimeout(list, LB_GETTEXT, static_cast<WPARAM>(i),
                                        reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    items.push_back(platform::Narrow(text));
  }
  return items;
}

bool IsMultipleSelection(HWND list) {
  const LONG style = ::GetWindowLongW(list, GWL_STYLE);
  return (style & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
}

// Clicks a button the way its parent learns of a click.
void Click(HWND parent, HWND button, int id) {
  ::PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void ClickId(HWND box, int id) { Click(box, ::GetDlgItem(box, id), id); }

void ClickButton(HWND parent, HWND button) {
  if (button) Click(parent, button, ::GetDlgCtrlID(button));
}

}  // namespace

void WindowAutomation::Run() {
  // Per window: whether the harness has acted on its current wait.
  std::map<HWND, bool> acted;
  // Per owner window: the last of its boxes the harness answered.
  std::map<HWND, HWND> answered_box;

  // Waits before acting; ends early when the window went away.
  auto wait_before = [this](HWND window, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop_ && ::IsWindow(window) && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };

  while (!stop_) {
    std::vector<HWND> windows;
    ::EnumWindows(AddOwnWindow, reinterpret_cast<LPARAM>(&windows));
    for (auto it = acted.begin(); it != acted.end();) {
      if (std::find(windows.begin(), windows.end(), it->first) == windows.end())
        it = acted.erase(it);
      else
        ++it;
    }
    for (auto it = answered_box.begin(); it != answered_box.end();) {
      if (!::IsWindow(it->first))
        it = answered_box.erase(it);
      else
        ++it;
    }

    for (HWND window : windows) {
      if (stop_) break;
      const std::vector<Child> children = VisibleChildren(window);
      if (IsMessageBox(window)) {
        if (acted[window]) continue;
        acted[window] = true;
        DialogEntry entry;
        entry.caption = WindowText(window);
        for (const Child& c : children) {
          if (SameClass(c.cls, "Static")) {
            const std::string text = WindowText(c.window);
            if (!text.empty()) {
              entry.text = text;
              break;
            }
          }
        }
        bool has_yes = false;
        for (HWND b : Buttons(children)) {
          entry.buttons.push_back(Label(b));
          if (::GetDlgCtrlID(b) == IDYES) has_yes = true;
        }
        if (has_yes)
          entry.kind = DialogKind::Question;
        else if (::GetWindow(window, GW_OWNER))
          entry.kind = DialogKind::Notice;
        else
          entry.kind = DialogKind::Info;
        const DialogAction action =
            script_.Begin(entry, entry.kind == DialogKind::Question ? Press::No : Press::Ok);
        // A box of the selection window: once it is gone, the window either
        // waits for the user again or is closed by the component.
        if (const HWND owner = ::GetWindow(window, GW_OWNER)) answered_box[owner] = window;
        wait_before(window, action.after_ms);
        if (stop_ || !::IsWindow(window)) continue;
        switch (action.press) {
          case Press::Ok: ClickId(window, IDOK); break;
          case Press::Yes: ClickId(window, IDYES); break;
          case Press::No: ClickId(window, IDNO); break;
          case Press::Cancel: ClickId(window, IDCANCEL); break;
          case Press::Close: ::PostMessageW(window, WM_CLOSE, 0, 0); break;
          case Press::None: break;  // the component ends it
        }
        continue;
      }

      const HWND list = FindChild(children, "ListBox");
      if (!list) continue;
      // The selection window. It waits for the user when it first shows,
      // and again after each of its boxes, unless the component closes it.
      const auto box = answered_box.find(window);
      if (box != answered_box.end()) {
        // The box's modal loop also runs this window's messages: a click
        // posted before the box is destroyed would be taken by that loop,
        // not by the window's wait.
        if (::IsWindow(box->second)) continue;
        answered_box.erase(box);
        acted[window] = false;
      }
      if (acted[window]) continue;
      if (!::IsWindowEnabled(window)) continue;
      // The box is gone; the component has then either gone back to the
      // window's message loop or is closing the window without running
      // messages. A message sent to the window comes back only from that
      // loop, so its answer means the window waits for the user.
      DWORD_PTR ignored = 0;
      if (!::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                                 &ignored) ||
          !::IsWindow(window) || !::IsWindowVisible(window) || !::IsWindowEnabled(window))
        continue;
      acted[window] = true;
      DialogEntry entry;
      entry.kind = DialogKind::Select;
      entry.caption = WindowText(window);
      const std::vector<HWND> buttons = Buttons(children);
      for (HWND b : buttons) entry.buttons.push_back(Label(b));
      entry.items = ListItems(list);
      const bool single = !IsMultipleSelection(list);
      entry.mode = single ? "source" : "documents";
      const DialogAction action = script_.Begin(entry, Press::Cancel);
      wait_before(window, action.after_ms);
      if (stop_ || !::IsWindow(window)) continue;
      const HWND ok = buttons.size() > 0 ? buttons[0] : nullptr;
      const HWND cancel = buttons.size() > 1 ? buttons[1] : nullptr;
      switch (action.press) {
        case Press::Ok:
        case Press::Yes: {
          const std::vector<int> lines = ChosenLines(entry.items, action.choose, single);
          if (single) {
            SendWithTimeout(list, LB_SETCURSEL, lines.empty() ? static_cast<WPARAM>(-1)
                                                              : static_cast<WPARAM>(lines.back()),
                            0);
          } else {
            SendWithTimeout(list, LB_SETSEL, FALSE, -1);
            for (int line : lines) SendWithTimeout(list, LB_SETSEL, TRUE, line);
          }
          ClickButton(window, ok);
          break;
        }
        case Press::Cancel:
        case Press::No: ClickButton(window, cancel); break;
        case Press::Close: ::PostMessageW(window, WM_CLOSE, 0, 0); break;
        case Press::None: break;
      }
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

}  // namespace vtsd::host
