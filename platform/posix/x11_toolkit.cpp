#include "platform/posix/x11_toolkit.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace vtsd::platform::x11 {

namespace {
// Fontconfig picks the face; every shipped sans face covers Cyrillic.
constexpr const char* kFontNames[] = {"DejaVu Sans:pixelsize=12", "Sans:pixelsize=12", "fixed"};
// How often a waiting dialog looks at Xlib's queue when its socket is quiet.
constexpr int kQueueCheckMs = 50;
}  // namespace

std::recursive_mutex& Lock() {
  static std::recursive_mutex lock;
  return lock;
}

Connection* Connection::Shared() {
  static Connection* shared = nullptr;
  const Library* x = Load();
  if (x == nullptr) return nullptr;
  std::lock_guard<std::recursive_mutex> lock(Lock());
  if (shared != nullptr) return shared;
  Display* display = OpenDisplay(*x);
  if (display == nullptr) return nullptr;
  auto c = new Connection(*x, display);
  if (!c->Prepare()) {
    // Nothing was drawn with it: closing it cannot meet the fault above.
    x->XCloseDisplay(display);
    delete c;
    return nullptr;
  }
  shared = c;
  return shared;
}

bool Connection::Prepare() {
  const int screen = DefaultScreen(display_);
  for (const char* name : kFontNames) {
    font_ = x_.XftFontOpenName(display_, screen, name);
    if (font_ != nullptr) break;
  }
  if (font_ == nullptr) return false;
  delete_window_ = AtomOf("WM_DELETE_WINDOW");
  protocols_ = AtomOf("WM_PROTOCOLS");
  face_pixel = Pixel(0xf0, 0xf0, 0xf0, nullptr);
  window_pixel = Pixel(0xff, 0xff, 0xff, nullptr);
  button_pixel = Pixel(0xe1, 0xe1, 0xe1, nullptr);
  border_pixel = Pixel(0xad, 0xad, 0xad, nullptr);
  select_pixel = Pixel(0x00, 0x78, 0xd7, nullptr);
  accent_pixel = Pixel(0x00, 0x5a, 0xb4, nullptr);
  pressed_pixel = Pixel(0xcc, 0xe4, 0xf7, nullptr);
  Pixel(0x00, 0x00, 0x00, &text_color);
  Pixel(0xff, 0xff, 0xff, &select_text_color);
  Pixel(0xff, 0xff, 0xff, &icon_text_color);
  return true;
}

unsigned long Connection::Pixel(unsigned short r, unsigned short g, unsigned short b, XftColor* keep) {
  const int screen = DefaultScreen(display_);
  XRenderColor value{static_cast<unsigned short>(r * 257), static_cast<unsigned short>(g * 257),
                     static_cast<unsigned short>(b * 257), 0xffff};
  XftColor color{};
  if (!x_.XftColorAllocValue(display_, DefaultVisual(display_, screen), DefaultColormap(display_, screen), &value,
                             &color))
    return BlackPixel(display_, screen);
  if (keep != nullptr) *keep = color;
  return color.pixel;
}

int Connection::Fd() const { return x_.XConnectionNumber(display_); }

Atom Connection::AtomOf(const char* name) const { return x_.XInternAtom(display_, name, False); }

int Connection::TextWidth(const std::string& text) const {
  if (text.empty()) return 0;
  XGlyphInfo extents{};
  x_.XftTextExtentsUtf8(display_, font_, reinterpret_cast<const FcChar8*>(text.data()),
                        static_cast<int>(text.size()), &extents);
  return extents.xOff;
}

std::vector<std::string> Connection::Wrap(const std::string& text, int width) const {
  std::vector<std::string> lines;
  size_t start = 0;
  while (true) {
    const size_t end = text.find('\n', start);
    const std::string paragraph = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string line;
    size_t pos = 0;
    while (pos <= paragraph.size()) {
      size_t space = paragraph.find(' ', pos);
      if (space == std::string::npos) space = paragraph.size();
      const std::string word = paragraph.substr(pos, space - pos);
      const std::string candidate = line.empty() ? word : line + " " + word;
      if (!line.empty() && TextWidth(candidate) > width) {
        lines.push_back(line);
        line = word;
      } else {
        line = candidate;
      }
      pos = space + 1;
    }
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

void Connection::SetUtf8(Window window, const char* property, const std::string& value) {
  x_.XChangeProperty(display_, window, AtomOf(property), AtomOf("UTF8_STRING"), 8, PropModeReplace,
                     reinterpret_cast<const unsigned char*>(value.data()), static_cast<int>(value.size()));
}

void Connection::SetUtf8List(Window window, const char* property, const std::vector<std::string>& values) {
  std::string joined;
  for (const std::string& v : values) {
    joined += v;
    joined.push_back('\0');
  }
  SetUtf8(window, property, joined);
}

void Connection::SetCardinals(Window window, const char* property, const std::vector<long>& values) {
  // Format 32 properties are passed as longs whatever the width of long.
  x_.XChangeProperty(display_, window, AtomOf(property), XA_CARDINAL, 32, PropModeReplace,
                     reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
}

void Connection::DeleteProperty(Window window, const char* property) {
  x_.XDeleteProperty(display_, window, AtomOf(property));
}

Window Connection::CreateTopLevel(const std::string& caption, const char* res_name, const Rect& rect, Window owner) {
  const int screen = DefaultScreen(display_);
  const Window window = x_.XCreateSimpleWindow(display_, RootWindow(display_, screen), rect.x, rect.y,
                                               static_cast<unsigned>(rect.width), static_cast<unsigned>(rect.height),
                                               0, border_pixel, face_pixel);
  x_.XSelectInput(display_, window, ExposureMask | KeyPressMask | StructureNotifyMask);
  // The caption, in both the old and the UTF-8 property.
  x_.XChangeProperty(display_, window, XA_WM_NAME, AtomOf("UTF8_STRING"), 8, PropModeReplace,
                     reinterpret_cast<const unsigned char*>(caption.data()), static_cast<int>(caption.size()));
  SetUtf8(window, "_NET_WM_NAME", caption);
  std::string name(res_name), cls(kWindowClass);
  XClassHint hint{&name[0], &cls[0]};
  x_.XSetClassHint(display_, window, &hint);
  const long pid = static_cast<long>(::getpid());
  SetCardinals(window, "_NET_WM_PID", {pid});
  Atom protocols[] = {delete_window_};
  x_.XSetWMProtocols(display_, window, protocols, 1);
  XSizeHints size{};
  size.flags = PPosition | PMinSize | PMaxSize;
  size.x = rect.x;
  size.y = rect.y;
  size.min_width = size.max_width = rect.width;
  size.min_height = size.max_height = rect.height;
  x_.XSetWMNormalHints(display_, window, &size);
  if (owner != None) {
    x_.XSetTransientForHint(display_, window, owner);
    const long dialog = static_cast<long>(AtomOf("_NET_WM_WINDOW_TYPE_DIALOG"));
    x_.XChangeProperty(display_, window, AtomOf("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                       reinterpret_cast<const unsigned char*>(&dialog), 1);
  }
  return window;
}

Window Connection::CreateChild(Window parent, const char* res_name, const std::string& text, const Rect& rect,
                               long events) {
  const Window window =
      x_.XCreateSimpleWindow(display_, parent, rect.x, rect.y, static_cast<unsigned>(rect.width),
                             static_cast<unsigned>(rect.height), 0, border_pixel, face_pixel);
  x_.XSelectInput(display_, window, events);
  SetUtf8(window, "_NET_WM_NAME", text);
  std::string name(res_name), cls(kWindowClass);
  XClassHint hint{&name[0], &cls[0]};
  x_.XSetClassHint(display_, window, &hint);
  x_.XMapWindow(display_, window);
  return window;
}

void Connection::Fill(Window window, GC gc, unsigned long pixel, const Rect& rect) {
  x_.XSetForeground(display_, gc, pixel);
  x_.XFillRectangle(display_, window, gc, rect.x, rect.y, static_cast<unsigned>(rect.width),
                    static_cast<unsigned>(rect.height));
}

void Connection::Frame(Window window, GC gc, unsigned long pixel, const Rect& rect) {
  x_.XSetForeground(display_, gc, pixel);
  x_.XDrawRectangle(display_, window, gc, rect.x, rect.y, static_cast<unsigned>(rect.width - 1),
                    static_cast<unsigned>(rect.height - 1));
}

void Connection::DrawText(XftDraw* draw, const XftColor& color, int x, int baseline, const std::string& text) {
  if (text.empty()) return;
  x_.XftDrawStringUtf8(draw, &color, font_, x, baseline, reinterpret_cast<const FcChar8*>(text.data()),
                       static_cast<int>(text.size()));
}

bool Connection::Run(Mailbox& mailbox, const std::function<bool(XEvent&)>& handle,
                     const std::function<bool()>& stop, const std::function<void()>& idle) {
  while (true) {
    {
      std::lock_guard<std::recursive_mutex> lock(Lock());
      XEvent e;
      while (mailbox.Take(e))
        if (handle(e)) return true;
      while (x_.XPending(display_) > 0) {
        x_.XNextEvent(display_, &e);
        const auto route = routes_.find(e.xany.window);
        if (route == routes_.end()) continue;  // a window already gone
        if (route->second == &mailbox) {
          if (handle(e)) return true;
        } else {
          route->second->events_.push_back(e);
          route->second->Wake();
        }
      }
      if (idle) idle();
      x_.XFlush(display_);
    }
    // Another thread's request may have read events into Xlib's queue
    // after the loop above emptied it, and the socket then stays quiet: the
    // time-out looks at that queue again.
    pollfd fds[2] = {{Fd(), POLLIN, 0}, {mailbox.fds_[0], POLLIN, 0}};
    if (::poll(fds, 2, kQueueCheckMs) < 0) continue;
    if (fds[1].revents & POLLIN) {
      char bytes[64];
      while (::read(mailbox.fds_[0], bytes, sizeof bytes) > 0) {
      }
    }
    if (stop && stop()) return false;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
  }
}

Mailbox::Mailbox(Connection& c) : c_(c) {
  if (::pipe(fds_) != 0) {
    fds_[0] = fds_[1] = -1;
    return;
  }
  for (int fd : fds_) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
  }
}

Mailbox::~Mailbox() {
  {
    std::lock_guard<std::recursive_mutex> lock(Lock());
    for (Window w : windows_) c_.routes_.erase(w);
  }
  for (int fd : fds_)
    if (fd >= 0) ::close(fd);
}

void Mailbox::Add(Window window) {
  c_.routes_[window] = this;
  windows_.push_back(window);
}

void Mailbox::Wake() {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(fds_[1], &byte, 1);
}

bool Mailbox::Take(XEvent& e) {
  if (events_.empty()) return false;
  e = events_.front();
  events_.pop_front();
  return true;
}

void Mailbox::Drain(const std::function<void(XEvent&)>& handle) {
  std::lock_guard<std::recursive_mutex> lock(Lock());
  XEvent e;
  while (Take(e)) handle(e);
}

Control::Control(Connection& c, Window parent, const char* res_name, const std::string& text, const Rect& rect,
                 long events)
    : c_(c), rect_(rect), text_(text) {
  window_ = c.CreateChild(parent, res_name, text, rect, events);
  Display* d = c.display();
  const int screen = DefaultScreen(d);
  draw_ = c.x().XftDrawCreate(d, window_, DefaultVisual(d, screen), DefaultColormap(d, screen));
  gc_ = c.x().XCreateGC(d, window_, 0, nullptr);
}

Control::~Control() {
  if (draw_ != nullptr) c_.x().XftDrawDestroy(draw_);
  if (gc_ != nullptr) c_.x().XFreeGC(c_.display(), gc_);
  c_.x().XDestroyWindow(c_.display(), window_);
}

void DrawButton(Connection& c, const Control& button, bool pressed, bool is_default) {
  const Rect all{0, 0, button.rect().width, button.rect().height};
  c.Fill(button.window(), button.gc(), pressed ? c.pressed_pixel : c.button_pixel, all);
  c.Frame(button.window(), button.gc(), is_default ? c.select_pixel : c.border_pixel, all);
  if (is_default) c.Frame(button.window(), button.gc(), c.select_pixel, Rect{1, 1, all.width - 2, all.height - 2});
  const int width = c.TextWidth(button.text());
  const int baseline = (all.height - c.LineHeight()) / 2 + c.font()->ascent;
  c.DrawText(button.draw(), c.text_color, (all.width - width) / 2, baseline, button.text());
}

void DrawStatic(Connection& c, const Control& label) {
  const Rect all{0, 0, label.rect().width, label.rect().height};
  c.Fill(label.window(), label.gc(), c.face_pixel, all);
  int baseline = c.font()->ascent;
  for (const std::string& line : c.Wrap(label.text(), all.width)) {
    c.DrawText(label.draw(), c.text_color, 0, baseline, line);
    baseline += c.LineHeight();
  }
}

}  // namespace vtsd::platform::x11
