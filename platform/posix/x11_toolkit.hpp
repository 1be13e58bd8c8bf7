// The few pieces the Linux dialogs are drawn with: the process's one
// connection to the X server with its font, colours and atoms; mailboxes
// that hand each dialog the events of its own windows, whichever thread read
// them; and child windows for the controls. Each control is a window of
// its own whose class ("Button", "Static", "ListBox") and UTF-8 name carry
// what it shows, so a window can be read back the way a person reads it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/x11_library.hpp"

namespace vtsd::platform::x11 {

// Every Xlib and Xft call of the dialogs runs under this lock; Xft keeps
// state per process, and the dialogs may be shown from two threads.
std::recursive_mutex& Lock();

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool Contains(int px, int py) const { return px >= x && py >= y && px < x + width && py < y + height; }
};

// Names of the properties a dialog publishes besides the standard ones.
constexpr const char kWaitingProperty[] = "_VTSD_WAITING";    // CARDINAL: serial of the current wait
constexpr const char kItemsProperty[] = "_VTSD_ITEMS";        // UTF8_STRING list, NUL-separated
constexpr const char kSelectedProperty[] = "_VTSD_SELECTED";  // CARDINAL[]: selected lines
constexpr const char kListViewProperty[] = "_VTSD_LIST_VIEW";  // CARDINAL[3]: multiple, top line, line height
constexpr const char kWindowClass[] = "VemlarTSD";

class Mailbox;

// Opened on the first window and kept for the process's life: the dialogs
// shown by any thread share it. It is never closed: this Xft breaks the next
// connection of the process when one that had a font is closed, and keeping
// one connection keeps one font.
class Connection {
 public:
  // Null when there is no display, the libraries are missing or no font
  // can be opened (tried again on the next call).
  static Connection* Shared();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const Library& x() const { return x_; }
  Display* display() const { return display_; }
  XftFont* font() const { return font_; }
  int LineHeight() const { return font_->ascent + font_->descent; }

  Atom AtomOf(const char* name) const;
  Atom delete_window() const { return delete_window_; }
  Atom protocols() const { return protocols_; }

  int TextWidth(const std::string& text) const;
  // Splits a text into lines no wider than `width` at spaces, keeping its
  // own line breaks.
  std::vector<std::string> Wrap(const std::string& text, int width) const;

  // A top-level window of this process: named, classed, fixed in size,
  // placed at (x, y), answering the close request itself, owned by `owner`
  // when that is not None.
  Window CreateTopLevel(const std::string& caption, const char* res_name, const Rect& rect, Window owner);
  Window CreateChild(Window parent, const char* res_name, const std::string& text, const Rect& rect, long events);

  void SetUtf8(Window window, const char* property, const std::string& value);
  void SetUtf8List(Window window, const char* property, const std::vector<std::string>& values);
  void SetCardinals(Window window, const char* property, const std::vector<long>& values);
  void DeleteProperty(Window window, const char* property);

  // Colours, as pixels (for fills) and as Xft colours (for text).
  unsigned long face_pixel, window_pixel, button_pixel, border_pixel, select_pixel, accent_pixel, pressed_pixel;
  XftColor text_color{}, select_text_color{}, icon_text_color{};

  void Fill(Window window, GC gc, unsigned long pixel, const Rect& rect);
  void Frame(Window window, GC gc, unsigned long pixel, const Rect& rect);
  void DrawText(XftDraw* draw, const XftColor& color, int x, int baseline, const std::string& text);

  // Runs the events of `mailbox`'s windows through `handle` until it returns
  // true (then true), or until `stop` says so after the mailbox was woken
  // (then false); false too when the server is gone. Events of other
  // dialogs read meanwhile go to their mailboxes; `idle` runs after each
  // batch. Called without the lock held.
  bool Run(Mailbox& mailbox, const std::function<bool(XEvent&)>& handle, const std::function<bool()>& stop,
           const std::function<void()>& idle);

 private:
  friend class Mailbox;
  Connection(const Library& x, Display* display) : x_(x), display_(display) {}
  bool Prepare();
  int Fd() const;
  unsigned long Pixel(unsigned short r, unsigned short g, unsigned short b, XftColor* keep);

  const Library& x_;
  Display* display_;
  XftFont* font_ = nullptr;
  Atom delete_window_ = None, protocols_ = None;
  std::map<Window, Mailbox*> routes_;  // under Lock()
};

// The events of one dialog's windows, and a pipe that wakes the thread
// waiting for them (another dialog's thread read them, or Wake() was called).
class Mailbox {
 public:
  explicit Mailbox(Connection& c);
  ~Mailbox();
  Mailbox(const Mailbox&) = delete;
  Mailbox& operator=(const Mailbox&) = delete;
  bool Valid() const { return fds_[0] >= 0; }
  // Routes the events of this window here (call with the lock held).
  void Add(Window window);
  // Thread-safe; needs no lock.
  void Wake();
  // Handles the events already routed here, under the lock.
  void Drain(const std::function<void(XEvent&)>& handle);

 private:
  friend class Connection;
  // The oldest event routed here, under the lock.
  bool Take(XEvent& e);

  Connection& c_;
  int fds_[2] = {-1, -1};
  std::deque<XEvent> events_;  // under Lock()
  std::vector<Window> windows_;
};

// A control: a child window with its Xft drawing surface and GC.
class Control {
 public:
  Control(Connection& c, Window parent, const char* res_name, const std::string& text, const Rect& rect, long events);
  ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  Window window() const { return window_; }
  XftDraw* draw() const { return draw_; }
  GC gc() const { return gc_; }
  const Rect& rect() const { return rect_; }
  const std::string& text() const { return text_; }

 private:
  Connection& c_;
  Window window_;
  XftDraw* draw_ = nullptr;
  GC gc_ = nullptr;
  Rect rect_;
  std::string text_;
};

// Draws a push button in its own window.
void DrawButton(Connection& c, const Control& button, bool pressed, bool is_default);
// Draws a text wrapped to the control's width.
void DrawStatic(Connection& c, const Control& label);

}  // namespace vtsd::platform::x11
