// The Linux dialogs, drawn with Xlib and Xft: the message boxes and the
// selection window, with the captions, texts and buttons the Windows ones
// have. The X libraries are loaded when a window is first needed. Without a
// display (or without the libraries) a box takes its safe answer at once and
// the selection window reports that it could not be built; no call blocks.
//
// The dialogs share the process's one connection to the X server; each runs
// its own event loop on the calling thread, as the Windows ones run their
// message loops, and receives the events of its own windows through its
// mailbox. A box can be ended from another thread through its BoxCloser: the
// close action only raises a flag and wakes the box's mailbox.
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "platform/dialogs.hpp"
#include "platform/posix/x11_toolkit.hpp"

namespace vtsd::platform {

namespace {

using x11::Connection;
using x11::Control;
using x11::Rect;

constexpr int kMargin = 12;
constexpr int kIconSize = 32;
constexpr int kMaxTextWidth = 380;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 24;
constexpr int kButtonGap = 8;
constexpr int kScrollBarWidth = 14;
constexpr long kButtonEvents = ExposureMask | ButtonPressMask | ButtonReleaseMask;

// Every wait for the user gets a new number, published on its window.
long NextWaitSerial() {
  static std::atomic<long> serial{0};
  return ++serial;
}

// Ends a box's wait from another thread while the box is shown.
class CloseActionScope {
 public:
  CloseActionScope(BoxCloser* closer, x11::Mailbox& mailbox, std::atomic<bool>& closed) : closer_(closer) {
    if (closer_) {
      closer_->SetCloseAction([&mailbox, &closed] {
        closed = true;
        mailbox.Wake();
      });
    }
  }
  ~CloseActionScope() {
    if (closer_) closer_->SetCloseAction(nullptr);
  }
  CloseActionScope(const CloseActionScope&) = delete;
  CloseActionScope& operator=(const CloseActionScope&) = delete;

 private:
  BoxCloser* closer_;
};

bool IsCloseRequest(const Connection& c, const XEvent& e) {
  return e.type == ClientMessage && e.xclient.message_type == c.protocols() &&
         static_cast<Atom>(e.xclient.data.l[0]) == c.delete_window();
}

// A push button's click: pressed and released inside it.
class ButtonTracker {
 public:
  // Returns the index of the button clicked by this event, or -1.
  int Handle(const XEvent& e, const std::vector<std::unique_ptr<Control>>& buttons, Connection& c,
             size_t default_button) {
    for (size_t i = 0; i < buttons.size(); ++i) {
      const Control& b = *buttons[i];
      if (e.xany.window != b.window()) continue;
      if (e.type == ButtonPress && e.xbutton.button == Button1) {
        pressed_ = static_cast<int>(i);
        DrawButton(c, b, true, i == default_button);
      } else if (e.type == ButtonRelease && e.xbutton.button == Button1) {
        const bool clicked = pressed_ == static_cast<int>(i) && e.xbutton.x >= 0 && e.xbutton.y >= 0 &&
                             e.xbutton.x < b.rect().width && e.xbutton.y < b.rect().height;
        pressed_ = -1;
        DrawButton(c, b, false, i == default_button);
        if (clicked) return static_cast<int>(i);
      } else if (e.type == Expose && e.xexpose.count == 0) {
        DrawButton(c, b, pressed_ == static_cast<int>(i), i == default_button);
      }
    }
    return -1;
  }

 private:
  int pressed_ = -1;
};

// The list of the selection window: one line chosen, or several (a click
// chooses one line, Ctrl+click adds or removes one, Shift+click a range).
class ListView {
 public:
  ListView(Connection& c, Window parent, const Rect& rect, const SelectionWindowRequest& request)
      : c_(c),
        control_(c, parent, "ListBox", "", rect, ExposureMask | ButtonPressMask),
        items_(request.items),
        selected_(request.items.size(), false),
        multiple_(!request.choose_source),
        row_height_(c.LineHeight() + 3) {
    c_.SetUtf8List(control_.window(), x11::kItemsProperty, items_);
    Publish();
  }

  Window window() const { return control_.window(); }

  std::vector<int> Selected() const {
    std::vector<int> out;
    for (size_t i = 0; i < selected_.size(); ++i)
      if (selected_[i]) out.push_back(static_cast<int>(i));
    return out;
  }

  void Draw() {
    const Rect all{0, 0, control_.rect().width, control_.rect().height};
    const Window w = control_.window();
    c_.Fill(w, control_.gc(), c_.window_pixel, all);
    const int visible = VisibleRows();
    const bool bar = static_cast<int>(items_.size()) > visible;
    const int text_width = all.width - 2 - (bar ? kScrollBarWidth : 0);
    for (int r = 0; r < visible; ++r) {
      const size_t i = static_cast<size_t>(top_ + r);
      if (i >= items_.size()) break;
      const Rect row{1, kRowsTop + r * row_height_, text_width, row_height_};
      if (selected_[i]) c_.Fill(w, control_.gc(), c_.select_pixel, row);
      if (caret_ == static_cast<int>(i) && multiple_) c_.Frame(w, control_.gc(), c_.accent_pixel, row);
      const int baseline = row.y + (row_height_ - c_.LineHeight()) / 2 + c_.font()->ascent;
      c_.DrawText(control_.draw(), selected_[i] ? c_.select_text_color : c_.text_color, row.x + 3, baseline,
                  items_[i]);
    }
    if (bar) {
      const Rect track{all.width - 1 - kScrollBarWidth, 1, kScrollBarWidth, all.height - 2};
      c_.Fill(w, control_.gc(), c_.face_pixel, track);
      const int n = static_cast<int>(items_.size());
      const int thumb_height = std::max(16, track.height * visible / n);
      const int thumb_top = track.y + (track.height - thumb_height) * top_ / std::max(1, n - visible);
      c_.Fill(w, control_.gc(), c_.border_pixel, Rect{track.x + 2, thumb_top, track.width - 4, thumb_height});
    }
    c_.Frame(w, control_.gc(), c_.border_pixel, all);
  }

  void Press(const XButtonEvent& e) {
    const int visible = VisibleRows();
    if (e.button == Button4 || e.button == Button5) {
      Scroll(e.button == Button4 ? -1 : 1);
      return;
    }
    if (e.button != Button1) return;
    if (static_cast<int>(items_.size()) > visible && e.x >= control_.rect().width - 1 - kScrollBarWidth) {
      Scroll(e.y < control_.rect().height / 2 ? -visible : visible);
      return;
    }
    const int row = (e.y - kRowsTop) / row_height_;
    if (e.y < kRowsTop || row >= visible) return;
    const int line = top_ + row;
    if (line >= static_cast<int>(items_.size())) return;
    Choose(line, (e.state & ControlMask) != 0, (e.state & ShiftMask) != 0);
  }

  void Key(KeySym key, unsigned int state) {
    const int n = static_cast<int>(items_.size());
    if (n == 0) return;
    const bool ctrl = (state & ControlMask) != 0;
    const bool shift = (state & ShiftMask) != 0;
    if (key == XK_space) {
      if (caret_ >= 0) Choose(caret_, ctrl, shift);
      return;
    }
    int to = caret_;
    switch (key) {
      case XK_Up: to = caret_ - 1; break;
      case XK_Down: to = caret_ + 1; break;
      case XK_Home: to = 0; break;
      case XK_End: to = n - 1; break;
      case XK_Prior: to = caret_ - VisibleRows(); break;
      case XK_Next: to = caret_ + VisibleRows(); break;
      default: return;
    }
    to = std::clamp(to, 0, n - 1);
    if (multiple_ && ctrl) {
      caret_ = to;
      Changed();
    } else {
      Choose(to, false, shift);
    }
  }

 private:
  static constexpr int kRowsTop = 1;

  int VisibleRows() const { return std::max(1, (control_.rect().height - 2) / row_height_); }

  void Choose(int line, bool ctrl, bool shift) {
    if (!multiple_) {
      std::fill(selected_.begin(), selected_.end(), false);
      selected_[static_cast<size_t>(line)] = true;
    } else if (shift && anchor_ >= 0) {
      std::fill(selected_.begin(), selected_.end(), false);
      for (int i = std::min(anchor_, line); i <= std::max(anchor_, line); ++i) selected_[static_cast<size_t>(i)] = true;
    } else if (ctrl) {
      selected_[static_cast<size_t>(line)] = !selected_[static_cast<size_t>(line)];
      anchor_ = line;
    } else {
      std::fill(selected_.begin(), selected_.end(), false);
      selected_[static_cast<size_t>(line)] = true;
      anchor_ = line;
    }
    caret_ = line;
    Changed();
  }

  void Scroll(int rows) {
    const int most = std::max(0, static_cast<int>(items_.size()) - VisibleRows());
    top_ = std::clamp(top_ + rows, 0, most);
    Publish();
    Draw();
  }

  // Keeps the caret in view, publishes and redraws.
  void Changed() {
    const int visible = VisibleRows();
    if (caret_ >= 0 && caret_ < top_) top_ = caret_;
    if (caret_ >= top_ + visible) top_ = caret_ - visible + 1;
    Publish();
    Draw();
  }

  // What the list shows, for whoever reads the window back.
  void Publish() {
    std::vector<long> chosen;
    for (int i : Selected()) chosen.push_back(i);
    c_.SetCardinals(control_.window(), x11::kSelectedProperty, chosen);
    c_.SetCardinals(control_.window(), x11::kListViewProperty,
                    {multiple_ ? 1L : 0L, static_cast<long>(top_), static_cast<long>(row_height_),
                     static_cast<long>(kRowsTop)});
  }

  Connection& c_;
  Control control_;
  std::vector<std::string> items_;
  std::vector<bool> selected_;
  bool multiple_;
  int row_height_;
  int top_ = 0;
  int caret_ = -1;
  int anchor_ = -1;
};

class SelectionWindow {
 public:
  static std::unique_ptr<SelectionWindow> Create(const SelectionWindowRequest& request) {
    Connection* c = Connection::Shared();
    if (c == nullptr) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    std::unique_ptr<SelectionWindow> window(new SelectionWindow(*c, request));
    if (!window->mailbox_.Valid()) return nullptr;
    return window;
  }

  ~SelectionWindow() {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    buttons_.clear();
    list_.reset();
    if (!destroyed_) c_->x().XDestroyWindow(c_->display(), window_);
    c_->x().XSync(c_->display(), False);
  }

  Window window() const { return window_; }
  bool Gone() const { return destroyed_; }

  SelectionWindowEvent Wait() {
    SelectionWindowEvent result;
    result.kind = SelectionWindowEvent::Destroyed;
    {
      std::lock_guard<std::recursive_mutex> lock(x11::Lock());
      c_->SetCardinals(window_, x11::kWaitingProperty, {NextWaitSerial()});
    }
    const bool done = c_->Run(
        mailbox_, [&](XEvent& e) { return Handle(e, false, result); }, nullptr, nullptr);
    if (!done) destroyed_ = true;
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    if (!destroyed_) {
      c_->DeleteProperty(window_, x11::kWaitingProperty);
      c_->x().XFlush(c_->display());
    }
    return result;
  }

  // While one of its boxes is up the window is only kept drawn: its input
  // is dropped, as an owner window is disabled under a box.
  void PumpModal() {
    SelectionWindowEvent ignored;
    mailbox_.Drain([&](XEvent& e) { Handle(e, true, ignored); });
  }

 private:
  SelectionWindow(Connection& c, const SelectionWindowRequest& request) : c_(&c), mailbox_(c) {
    Connection& c_ref = *c_;
    window_ = c_ref.CreateTopLevel(request.caption, "WinForUser", Rect{350, 300, 234, 226}, None);
    list_ = std::make_unique<ListView>(c_ref, window_, Rect{0, 0, 234, 196}, request);
    buttons_.push_back(std::make_unique<Control>(c_ref, window_, "Button", request.ok_text,
                                                 Rect{4, 199, 70, 25}, kButtonEvents));
    buttons_.push_back(std::make_unique<Control>(c_ref, window_, "Button", request.cancel_text,
                                                 Rect{170, 199, 60, 25}, kButtonEvents));
    mailbox_.Add(window_);
    mailbox_.Add(list_->window());
    for (const auto& b : buttons_) mailbox_.Add(b->window());
    c_ref.x().XMapRaised(c_ref.display(), window_);
    c_ref.x().XFlush(c_ref.display());
  }

  // True when the event ends the wait; `result` then says how.
  bool Handle(XEvent& e, bool modal, SelectionWindowEvent& result) {
    if (e.type == DestroyNotify && e.xdestroywindow.window == window_) {
      destroyed_ = true;
      result.kind = SelectionWindowEvent::Destroyed;
      return true;
    }
    if (e.type == Expose && e.xexpose.count == 0 && e.xany.window == list_->window()) list_->Draw();
    if (e.type == Expose) buttons_tracker_.Handle(e, buttons_, *c_, 0);
    if (modal) return false;
    if (IsCloseRequest(*c_, e)) {
      result.kind = SelectionWindowEvent::Close;
      return true;
    }
    if (e.type == ButtonPress && e.xany.window == list_->window()) list_->Press(e.xbutton);
    if (e.type == KeyPress) list_->Key(c_->x().XLookupKeysym(&e.xkey, 0), e.xkey.state);
    if (e.type == ButtonPress || e.type == ButtonRelease) {
      const int clicked = buttons_tracker_.Handle(e, buttons_, *c_, 0);
      if (clicked == 0) {
        result.kind = SelectionWindowEvent::Ok;
        result.selected = list_->Selected();
        return true;
      }
      if (clicked == 1) {
        result.kind = SelectionWindowEvent::Cancel;
        return true;
      }
    }
    return false;
  }

  Connection* c_;
  x11::Mailbox mailbox_;
  Window window_ = None;
  std::unique_ptr<ListView> list_;
  std::vector<std::unique_ptr<Control>> buttons_;
  ButtonTracker buttons_tracker_;
  bool destroyed_ = false;
};

// One message box: an icon, the text and its buttons, in a window of its
// own, owned by the selection window when one is given.
BoxAnswer ShowBox(const MessageBoxRequest& request, BoxCloser* closer, SelectionWindow* owner) {
  if (closer && closer->IsClosed()) return BoxAnswer::Closed;
  Connection* c = Connection::Shared();
  if (c == nullptr) return request.safe_answer;
  x11::Mailbox mailbox(*c);
  if (!mailbox.Valid()) return request.safe_answer;

  const bool question = request.kind == BoxKind::Question;
  const std::vector<std::string> labels = question ? std::vector<std::string>{"Yes", "No"}
                                                   : std::vector<std::string>{"OK"};
  const std::vector<BoxAnswer> answers =
      question ? std::vector<BoxAnswer>{BoxAnswer::Yes, BoxAnswer::No} : std::vector<BoxAnswer>{BoxAnswer::Ok};

  std::unique_lock<std::recursive_mutex> lock(x11::Lock());
  Display* d = c->display();
  const std::vector<std::string> lines = c->Wrap(request.text, kMaxTextWidth);
  int text_width = 0;
  for (const std::string& line : lines) text_width = std::max(text_width, c->TextWidth(line));
  const int text_height = static_cast<int>(lines.size()) * c->LineHeight();
  const int content_height = std::max(kIconSize, text_height);
  const int buttons_width = static_cast<int>(labels.size()) * kButtonWidth +
                            static_cast<int>(labels.size() - 1) * kButtonGap;
  const int width = std::max({kMargin * 2 + kIconSize + kMargin + text_width, kMargin * 2 + buttons_width, 180});
  const int buttons_top = kMargin + content_height + 16;
  const int height = buttons_top + kButtonHeight + kMargin;
  const int screen = DefaultScreen(d);
  const Rect place{(DisplayWidth(d, screen) - width) / 2, (DisplayHeight(d, screen) - height) / 2, width, height};

  const Window window = c->CreateTopLevel(request.caption, "MessageBox", place, owner ? owner->window() : None);
  const GC gc = c->x().XCreateGC(d, window, 0, nullptr);
  XftDraw* draw = c->x().XftDrawCreate(d, window, DefaultVisual(d, screen), DefaultColormap(d, screen));
  std::vector<std::unique_ptr<Control>> buttons;
  {
    const Rect text_rect{kMargin * 2 + kIconSize, kMargin + (content_height - text_height) / 2,
                         std::max(1, text_width + 1), std::max(1, text_height)};
    auto label = std::make_unique<Control>(*c, window, "Static", request.text, text_rect, ExposureMask);
    int left = (width - buttons_width) / 2;
    for (const std::string& text : labels) {
      buttons.push_back(std::make_unique<Control>(*c, window, "Button", text,
                                                  Rect{left, buttons_top, kButtonWidth, kButtonHeight}, kButtonEvents));
      left += kButtonWidth + kButtonGap;
    }
    mailbox.Add(window);
    mailbox.Add(label->window());
    for (const auto& b : buttons) mailbox.Add(b->window());
    c->x().XMapRaised(d, window);
    c->SetCardinals(window, x11::kWaitingProperty, {NextWaitSerial()});
    c->x().XFlush(d);
    lock.unlock();

    auto draw_icon = [&] {
      c->x().XSetForeground(d, gc, c->select_pixel);
      c->x().XFillArc(d, window, gc, kMargin, kMargin, kIconSize, kIconSize, 0, 360 * 64);
      const std::string mark = question ? "?" : "i";
      const int w = c->TextWidth(mark);
      c->DrawText(draw, c->icon_text_color, kMargin + (kIconSize - w) / 2,
                  kMargin + (kIconSize - c->LineHeight()) / 2 + c->font()->ascent, mark);
    };

    ButtonTracker tracker;
    BoxAnswer answer = BoxAnswer::Closed;
    std::atomic<bool> closed{false};
    CloseActionScope close_action(closer, mailbox, closed);
    const bool answered = c->Run(
        mailbox,
        [&](XEvent& e) {
          if (e.type == Expose && e.xexpose.count == 0) {
            if (e.xany.window == window) draw_icon();
            if (e.xany.window == label->window()) DrawStatic(*c, *label);
          }
          if (e.type == DestroyNotify && e.xdestroywindow.window == window) return true;
          if (IsCloseRequest(*c, e) && !question) {
            answer = BoxAnswer::Ok;  // a box with OK alone closes as OK
            return true;
          }
          if (e.type == KeyPress) {
            const KeySym key = c->x().XLookupKeysym(&e.xkey, 0);
            if (key == XK_Return || key == XK_KP_Enter) {
              answer = answers[0];
              return true;
            }
            if (key == XK_Escape && !question) {
              answer = BoxAnswer::Ok;
              return true;
            }
          }
          const int clicked = tracker.Handle(e, buttons, *c, 0);
          if (clicked >= 0) {
            answer = answers[static_cast<size_t>(clicked)];
            return true;
          }
          return false;
        },
        [&] { return closed.load(); },
        [&] {
          if (owner) owner->PumpModal();
        });
    lock.lock();
    buttons.clear();
    label.reset();
    if (!answered) answer = BoxAnswer::Closed;
    if (closer && closer->IsClosed()) answer = BoxAnswer::Closed;
    c->x().XftDrawDestroy(draw);
    c->x().XFreeGC(d, gc);
    c->x().XDestroyWindow(d, window);
    c->x().XSync(d, False);
    return answer;
  }
}

class X11DialogProvider : public DialogProvider {
 public:
  BoxAnswer ShowMessageBox(const MessageBoxRequest& request, BoxCloser* closer) override {
    // The notice and the cancel question belong to an open selection window.
    SelectionWindow* owner = request.kind == BoxKind::Info ? nullptr : window_.get();
    if (owner && owner->Gone()) owner = nullptr;
    return ShowBox(request, closer, owner);
  }

  SelectionWindowEvent WaitSelectionWindow(const SelectionWindowRequest& request) override {
    if (window_ && window_->Gone()) window_.reset();
    if (!window_) window_ = SelectionWindow::Create(request);
    if (!window_) {
      // No window to choose in: reported as lines that cannot be read, so
      // the call fails with the window-building message, not as a cancel.
      SelectionWindowEvent failed;
      failed.kind = SelectionWindowEvent::Ok;
      failed.selected = {-1};
      return failed;
    }
    return window_->Wait();
  }

  void CloseSelectionWindow() override { window_.reset(); }

 private:
  std::unique_ptr<SelectionWindow> window_;
};

}  // namespace

DialogProvider& DefaultDialogProvider() {
  static X11DialogProvider provider;
  return provider;
}

}  // namespace vtsd::platform
