// Answers the component's windows on Linux the way a person would: a thread
// with its own connection to the X server watches the top-level windows of
// this process, reads each dialog while it waits for the user (its caption,
// the names of its "Static" and "Button" children, the lines and the view of
// its "ListBox"), takes the next action from the DialogScript and carries it
// out with the XTest extension: real pointer motion, clicks, Ctrl held for
// extra lines, the wheel to bring a line into view. A close request is sent
// as a window manager sends it.
#include <dlfcn.h>
#include <unistd.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/posix/x11_library.hpp"
#include "platform/posix/x11_toolkit.hpp"

// X names "no window" with a macro that would also rename the script's
// Press::None.
constexpr Window kNoWindow = None;
#undef None

#include "tools/vtsd-host/window_automation.hpp"

namespace vtsd::host {

namespace {

using Press = DialogAction::Press;
namespace x11 = platform::x11;

constexpr auto kPollInterval = std::chrono::milliseconds(15);
constexpr auto kSettleLimit = std::chrono::seconds(3);

// The XTest calls, from libXtst.
struct XTest {
  int (*FakeMotion)(Display*, int, int, int, unsigned long) = nullptr;
  int (*FakeButton)(Display*, unsigned int, Bool, unsigned long) = nullptr;
  int (*FakeKey)(Display*, unsigned int, Bool, unsigned long) = nullptr;

  bool Load() {
    void* library = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return false;
    FakeMotion = reinterpret_cast<decltype(FakeMotion)>(::dlsym(library, "XTestFakeMotionEvent"));
    FakeButton = reinterpret_cast<decltype(FakeButton)>(::dlsym(library, "XTestFakeButtonEvent"));
    FakeKey = reinterpret_cast<decltype(FakeKey)>(::dlsym(library, "XTestFakeKeyEvent"));
    return FakeMotion && FakeButton && FakeKey;
  }
};

struct Child {
  Window window;
  std::string res_name;
  std::string text;
  int x, y, width, height;  // in the parent
};

// Every Xlib call runs under the dialogs' lock: the component draws its
// windows from other threads of this process.
class Screen {
 public:
  Screen(const x11::Library& x, Display* d, const XTest& test) : x_(x), d_(d), test_(test) {}

  std::string Utf8(Window w, const char* property) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    std::vector<unsigned char> bytes = Property(w, property, 8);
    return std::string(bytes.begin(), bytes.end());
  }

  std::vector<std::string> Utf8List(Window w, const char* property) {
    const std::string all = Utf8(w, property);
    std::vector<std::string> out;
    size_t start = 0;
    while (start < all.size()) {
      const size_t end = all.find('\0', start);
      out.push_back(all.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return out;
  }

  std::vector<long> Cardinals(Window w, const char* property) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    std::vector<unsigned char> bytes = Property(w, property, 32);
    std::vector<long> out(bytes.size() / sizeof(long));
    std::copy(bytes.begin(), bytes.begin() + static_cast<long>(out.size() * sizeof(long)),
              reinterpret_cast<unsigned char*>(out.data()));
    return out;
  }

  std::string ResName(Window w) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    XClassHint hint{nullptr, nullptr};
    if (!x_.XGetClassHint(d_, w, &hint)) return std::string();
    std::string name = hint.res_name ? hint.res_name : "";
    const std::string cls = hint.res_class ? hint.res_class : "";
    if (hint.res_name) x_.XFree(hint.res_name);
    if (hint.res_class) x_.XFree(hint.res_class);
    return cls == x11::kWindowClass ? name : std::string();
  }

  std::vector<Window> Children(Window w) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    Window root = kNoWindow, parent = kNoWindow, *list = nullptr;
    unsigned int n = 0;
    std::vector<Window> out;
    if (!x_.XQueryTree(d_, w, &root, &parent, &list, &n)) return out;
    out.assign(list, list + n);
    if (list) x_.XFree(list);
    return out;
  }

  bool Viewable(Window w) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    XWindowAttributes a{};
    return x_.XGetWindowAttributes(d_, w, &a) && a.map_state == IsViewable;
  }

  std::vector<Child> Controls(Window top) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    std::vector<Child> out;
    for (Window w : Children(top)) {
      XWindowAttributes a{};
      if (!x_.XGetWindowAttributes(d_, w, &a) || a.map_state != IsViewable) continue;
      out.push_back(Child{w, ResName(w), Utf8(w, "_NET_WM_NAME"), a.x, a.y, a.width, a.height});
    }
    std::sort(out.begin(), out.end(),
              [](const Child& a, const Child& b) { return a.x != b.x ? a.x < b.x : a.y < b.y; });
    return out;
  }

  // The windows of this process that wait for the user, with their wait serial.
  std::map<Window, long> Waiting() {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    std::map<Window, long> out;
    const long pid = static_cast<long>(::getpid());
    for (Window w : Children(DefaultRootWindow(d_))) {
      const std::vector<long> owner = Cardinals(w, "_NET_WM_PID");
      if (owner.empty() || owner[0] != pid || ResName(w).empty() || !Viewable(w)) continue;
      const std::vector<long> serial = Cardinals(w, x11::kWaitingProperty);
      if (!serial.empty()) out[w] = serial[0];
    }
    return out;
  }

  bool IsOwned(Window w) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    Window owner = kNoWindow;
    return x_.XGetTransientForHint(d_, w, &owner) && owner != kNoWindow;
  }

  void Click(Window w, int x, int y, unsigned int button = Button1, bool ctrl = false) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    int root_x = 0, root_y = 0;
    Window ignored = kNoWindow;
    x_.XTranslateCoordinates(d_, w, DefaultRootWindow(d_), x, y, &root_x, &root_y, &ignored);
    const unsigned int control = x_.XKeysymToKeycode(d_, XK_Control_L);
    if (ctrl) test_.FakeKey(d_, control, True, 0);
    test_.FakeMotion(d_, DefaultScreen(d_), root_x, root_y, 0);
    test_.FakeButton(d_, button, True, 0);
    test_.FakeButton(d_, button, False, 0);
    if (ctrl) test_.FakeKey(d_, control, False, 0);
    x_.XSync(d_, False);
  }

  void ClickCentre(const Child& c) { Click(c.window, c.width / 2, c.height / 2); }

  void RequestClose(Window w) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = x_.XInternAtom(d_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(x_.XInternAtom(d_, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    x_.XSendEvent(d_, w, False, NoEventMask, &e);
    x_.XSync(d_, False);
  }

 private:
  std::vector<unsigned char> Property(Window w, const char* name, int format) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    Atom type = kNoWindow;
    int got_format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned char> out;
    if (x_.XGetWindowProperty(d_, w, x_.XInternAtom(d_, name, False), 0, 1 << 20, False, AnyPropertyType, &type,
                              &got_format, &n, &after, &data) != Success)
      return out;
    if (data != nullptr && got_format == format) {
      const size_t unit = format == 32 ? sizeof(long) : static_cast<size_t>(format / 8);
      out.assign(data, data + n * unit);
    }
    if (data) x_.XFree(data);
    return out;
  }

  const x11::Library& x_;
  Display* d_;
  const XTest& test_;
};

// Waits until `done` holds (the component has taken the events), at most a
// few seconds.
template <typename Condition>
bool Settle(Condition done) {
  const auto until = std::chrono::steady_clock::now() + kSettleLimit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Selects exactly `lines` in the list, as a person does with the mouse.
void SelectLines(Screen& s, const Child& list, const std::vector<int>& lines, bool single) {
  auto view = [&] { return s.Cardinals(list.window, x11::kListViewProperty); };
  auto bring_into_view = [&](int line) {
    std::vector<long> v = view();
    if (v.size() < 4) return v;
    const int rows = std::max(1L, (list.height - 2) / v[2]);
    while (line < v[1] || line >= v[1] + rows) {
      const long before = v[1];
      s.Click(list.window, list.width / 3, list.height / 2, line < v[1] ? Button4 : Button5);
      if (!Settle([&] { return view().size() >= 4 && view()[1] != before; })) break;
      v = view();
    }
    return v;
  };
  auto click_line = [&](int line, bool ctrl) {
    const std::vector<long> v = bring_into_view(line);
    if (v.size() < 4) return;
    const std::vector<long> before = s.Cardinals(list.window, x11::kSelectedProperty);
    s.Click(list.window, list.width / 3, static_cast<int>(v[3] + (line - v[1]) * v[2] + v[2] / 2), Button1, ctrl);
    Settle([&] { return s.Cardinals(list.window, x11::kSelectedProperty) != before; });
  };
  if (single) {
    if (!lines.empty()) click_line(lines.back(), false);
    return;
  }
  const std::vector<long> selected = s.Cardinals(list.window, x11::kSelectedProperty);
  if (lines.empty()) {
    // Ctrl+click takes each selected line off.
    for (long line : selected) click_line(static_cast<int>(line), true);
    return;
  }
  click_line(lines.front(), false);
  for (size_t i = 1; i < lines.size(); ++i) click_line(lines[i], true);
}

// The component's windows come and go while the automation reads them: an
// X error on the automation's own connection means the window it asked
// about has gone, which the next look sees. Errors of other connections go
// to the handler that was there before (Xlib's own ends the process).
Display* g_automation_display = nullptr;
XErrorHandler g_previous_handler = nullptr;

int IgnoreGoneWindows(Display* d, XErrorEvent* error) {
  if (d == g_automation_display) return 0;
  return g_previous_handler != nullptr ? g_previous_handler(d, error) : 0;
}

}  // namespace

void WindowAutomation::Run() {
  const x11::Library* x = x11::Load();
  Display* d = x ? x11::OpenDisplay(*x) : nullptr;
  if (d == nullptr) return;  // no display: the component's windows fail at once
  XTest test;
  if (!test.Load()) {
    std::fprintf(stderr, "vtsd-host: libXtst.so.6 cannot be loaded; the component's windows are not answered\n");
    x->XCloseDisplay(d);
    return;
  }
  {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    g_automation_display = d;
    g_previous_handler = x->XSetErrorHandler(IgnoreGoneWindows);
  }
  Screen s(*x, d, test);
  std::map<Window, long> acted;  // the wait each window was last answered in

  auto wait_before = [&](Window w, int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop_ && std::chrono::steady_clock::now() < until && s.Waiting().count(w))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return !stop_ && s.Waiting().count(w) != 0;
  };

  while (!stop_) {
    const std::map<Window, long> waiting = s.Waiting();
    for (auto it = acted.begin(); it != acted.end();)
      it = waiting.count(it->first) ? std::next(it) : acted.erase(it);
    for (const auto& [window, serial] : waiting) {
      if (stop_) break;
      auto seen = acted.find(window);
      if (seen != acted.end() && seen->second == serial) continue;
      acted[window] = serial;
      const std::string role = s.ResName(window);
      const std::vector<Child> controls = s.Controls(window);
      std::vector<const Child*> buttons;
      const Child* list = nullptr;
      DialogEntry entry;
      entry.caption = s.Utf8(window, "_NET_WM_NAME");
      for (const Child& c : controls) {
        if (c.res_name == "Button") {
          buttons.push_back(&c);
          entry.buttons.push_back(c.text);
        } else if (c.res_name == "Static" && entry.text.empty()) {
          entry.text = c.text;
        } else if (c.res_name == "ListBox") {
          list = &c;
        }
      }
      if (role == "MessageBox") {
        entry.kind = buttons.size() == 2 ? DialogKind::Question
                     : s.IsOwned(window) ? DialogKind::Notice
                                         : DialogKind::Info;
        const DialogAction action =
            script_.Begin(entry, entry.kind == DialogKind::Question ? Press::No : Press::Ok);
        if (!wait_before(window, action.after_ms)) continue;
        const bool question = entry.kind == DialogKind::Question;
        switch (action.press) {
          case Press::Ok:
          case Press::Yes:
            if (!buttons.empty()) s.ClickCentre(*buttons[0]);
            break;
          case Press::No:
          case Press::Cancel:
            if (question) s.ClickCentre(*buttons[1]);
            break;
          case Press::Close: s.RequestClose(window); break;
          case Press::None: break;  // the component ends it
        }
        continue;
      }
      if (role != "WinForUser" || list == nullptr) continue;
      entry.kind = DialogKind::Select;
      entry.items = s.Utf8List(list->window, x11::kItemsProperty);
      const std::vector<long> view = s.Cardinals(list->window, x11::kListViewProperty);
      const bool single = view.empty() || view[0] == 0;
      entry.mode = single ? "source" : "documents";
      const DialogAction action = script_.Begin(entry, Press::Cancel);
      if (!wait_before(window, action.after_ms)) continue;
      switch (action.press) {
        case Press::Ok:
        case Press::Yes:
          SelectLines(s, *list, ChosenLines(entry.items, action.choose, single), single);
          if (!buttons.empty()) s.ClickCentre(*buttons[0]);
          break;
        case Press::Cancel:
        case Press::No:
          if (buttons.size() > 1) s.ClickCentre(*buttons[1]);
          break;
        case Press::Close: s.RequestClose(window); break;
        case Press::None: break;
      }
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  std::lock_guard<std::recursive_mutex> lock(x11::Lock());
  x->XSetErrorHandler(g_previous_handler);
  g_automation_display = nullptr;
  x->XCloseDisplay(d);
}

}  // namespace vtsd::host
