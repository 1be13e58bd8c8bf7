// The Linux dialogs on a private Xvfb server: each window is read back the
// way a person reads it (caption, text, buttons, list lines) and driven with
// XTest by the harness's window automation; the pictures are read back too,
// to see that chosen lines are drawn chosen. With VTSD_SCREENSHOTS set the
// pictures are also kept there as BMP files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialogs.hpp"
#include "platform/posix/x11_library.hpp"
#include "platform/posix/x11_toolkit.hpp"

// The script's Press::None and X's None macro cannot meet.
constexpr Window kNoWindow = None;
#undef None

#include "tests/support/dialog_action.hpp"
#include "tools/vtsd-host/dialog_script.hpp"
#include "tools/vtsd-host/window_automation.hpp"

namespace vtsd::platform {
namespace {

using host::DialogAction;
using host::DialogEntry;
using host::DialogKind;
using host::DialogScript;
using host::WindowAutomation;
using Press = DialogAction::Press;
using namespace std::chrono_literals;

// One Xvfb for the program; DISPLAY names it while the tests run.
class XvfbEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    int fds[2];
    if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
              "-noreset", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number.push_back(c);
    ::close(fds[0]);
    if (number.empty()) return;
    display_ = ":" + number;
    ::setenv("DISPLAY", display_.c_str(), 1);
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  static const std::string& Display() { return display_; }

 private:
  pid_t pid_ = -1;
  static std::string display_;
};
std::string XvfbEnvironment::display_;

const auto* const kXvfb = ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

using test::Act;

// A connection of the test's own, to find and photograph windows.
class Viewer {
 public:
  Viewer() : x_(x11::Load()), d_(x_ ? x11::OpenDisplay(*x_) : nullptr) {}
  ~Viewer() {
    if (d_) x_->XCloseDisplay(d_);
  }
  bool Ready() const { return d_ != nullptr; }

  // The top-level window of the dialogs with this caption, once mapped.
  Window Find(const std::string& caption, std::chrono::milliseconds limit = 5s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      {
        std::lock_guard<std::recursive_mutex> lock(x11::Lock());
        Window root, parent, *list = nullptr;
        unsigned int n = 0;
        if (x_->XQueryTree(d_, DefaultRootWindow(d_), &root, &parent, &list, &n)) {
          Window found = kNoWindow;
          for (unsigned int i = 0; i < n && found == kNoWindow; ++i) {
            XWindowAttributes a{};
            if (x_->XGetWindowAttributes(d_, list[i], &a) && a.map_state == IsViewable &&
                Name(list[i]) == caption)
              found = list[i];
          }
          if (list) x_->XFree(list);
          if (found != kNoWindow) return found;
        }
      }
      std::this_thread::sleep_for(10ms);
    }
    return kNoWindow;
  }

  bool AnyDialogMapped() {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    Window root, parent, *list = nullptr;
    unsigned int n = 0;
    bool any = false;
    if (x_->XQueryTree(d_, DefaultRootWindow(d_), &root, &parent, &list, &n)) {
      for (unsigned int i = 0; i < n; ++i) {
        XWindowAttributes a{};
        XClassHint hint{nullptr, nullptr};
        if (x_->XGetWindowAttributes(d_, list[i], &a) && a.map_state == IsViewable &&
            x_->XGetClassHint(d_, list[i], &hint)) {
          any = any || std::string(hint.res_class ? hint.res_class : "") == x11::kWindowClass;
          if (hint.res_name) x_->XFree(hint.res_name);
          if (hint.res_class) x_->XFree(hint.res_class);
        }
      }
      if (list) x_->XFree(list);
    }
    return any;
  }

  struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned long> pixels;  // 0xRRGGBB
    unsigned long At(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
  };

  Picture Take(Window w) {
    std::lock_guard<std::recursive_mutex> lock(x11::Lock());
    Picture p;
    XWindowAttributes a{};
    if (!x_->XGetWindowAttributes(d_, w, &a)) return p;
    XImage* image = x_->XGetImage(d_, w, 0, 0, static_cast<unsigned>(a.width), static_cast<unsigned>(a.height),
                                  AllPlanes, ZPixmap);
    if (image == nullptr) return p;
    p.width = a.width;
    p.height = a.height;
    for (int y = 0; y < a.height; ++y)
      for (int x = 0; x < a.width; ++x) p.pixels.push_back(XGetPixel(image, x, y) & 0xffffff);
    XDestroyImage(image);
    return p;
  }

  // Keeps the picture as a 24-bit BMP in VTSD_SCREENSHOTS, when set.
  static void Keep(const Picture& p, const std::string& name) {
    const char* dir = std::getenv("VTSD_SCREENSHOTS");
    if (dir == nullptr || *dir == '\0' || name.empty() || p.width == 0) return;
    std::ofstream out(std::string(dir) + "/" + name + ".bmp", std::ios::binary);
    const int row = (p.width * 3 + 3) & ~3;
    auto put32 = [&](unsigned v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](unsigned short v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("BM", 2);
    put32(static_cast<unsigned>(54 + row * p.height));
    put32(0);
    put32(54);
    put32(40);
    put32(static_cast<unsigned>(p.width));
    put32(static_cast<unsigned>(p.height));
    put16(1);
    put16(24);
    for (int i = 0; i < 6; ++i) put32(0);
    for (int y = p.height - 1; y >= 0; --y) {
      std::string line(static_cast<size_t>(row), '\0');
      for (int x = 0; x < p.width; ++x) {
        const unsigned long px = p.At(x, y);
        line[static_cast<size_t>(x * 3)] = static_cast<char>(px & 0xff);
        line[static_cast<size_t>(x * 3 + 1)] = static_cast<char>((px >> 8) & 0xff);
        line[static_cast<size_t>(x * 3 + 2)] = static_cast<char>((px >> 16) & 0xff);
      }
      out.write(line.data(), row);
    }
  }

 private:
  std::string Name(Window w) {
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    std::string out;
    if (x_->XGetWindowProperty(d_, w, x_->XInternAtom(d_, "_NET_WM_NAME", False), 0, 4096, False,
                               AnyPropertyType, &type, &format, &n, &after, &data) == Success &&
        data != nullptr)
      out.assign(reinterpret_cast<char*>(data), n);
    if (data) x_->XFree(data);
    return out;
  }

  const x11::Library* x_;
  Display* d_;
};

class X11DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (XvfbEnvironment::Display().empty()) GTEST_SKIP() << "Xvfb cannot be started here";
    ASSERT_TRUE(viewer_.Ready()) << "the test cannot reach its Xvfb";
    automation_ = std::make_unique<WindowAutomation>(script_);
  }
  void TearDown() override {
    automation_.reset();
    DefaultDialogProvider().CloseSelectionWindow();
  }

  // Shows a box on its own thread (as the listener does), photographs it
  // while it waits and returns its answer.
  BoxAnswer ShowAndTake(const MessageBoxRequest& request, const std::string& picture_name,
                        BoxCloser* closer = nullptr) {
    auto answer = std::async(std::launch::async,
                             [&] { return DefaultDialogProvider().ShowMessageBox(request, closer); });
    const Window w = viewer_.Find(request.caption);
    EXPECT_NE(w, kNoWindow) << request.caption;
    if (w != kNoWindow) {
      std::this_thread::sleep_for(150ms);
      last_picture_ = viewer_.Take(w);
      Viewer::Keep(last_picture_, picture_name);
    }
    return answer.get();
  }

  DialogEntry OnlyRecorded() {
    std::vector<DialogEntry> recorded = script_.TakeRecorded();
    EXPECT_EQ(recorded.size(), 1u);
    return recorded.empty() ? DialogEntry{} : recorded.front();
  }

  DialogScript script_;
  Viewer viewer_;
  std::unique_ptr<WindowAutomation> automation_;
  Viewer::Picture last_picture_;
};

MessageBoxRequest Box(BoxKind kind, const std::string& caption, const std::string& text, BoxAnswer safe) {
  MessageBoxRequest r;
  r.kind = kind;
  r.caption = caption;
  r.text = text;
  r.safe_answer = safe;
  return r;
}

struct BoxCase {
  const char* name;
  BoxKind kind;
  Press press;
  BoxAnswer answer;
  DialogKind seen_as;
  std::vector<std::string> buttons;
  const char* picture;  // kept in VTSD_SCREENSHOTS under this name; "" for none
};

TEST_F(X11DialogsTest, BoxesShowTheirTextsAndAnswerTheButtonPressed) {
  const std::string replace =
      "В ТСД, задача подбора с именем Склад 1 уже существует. Удалить задачу и загрузить новую? Если нажать нет, то "
      "загрузка будет отменена.";
  const BoxCase cases[] = {
      {"info-ok", BoxKind::Info, Press::Ok, BoxAnswer::Ok, DialogKind::Info, {"OK"}, "linux-info-ru"},
      {"info-close", BoxKind::Info, Press::Close, BoxAnswer::Ok, DialogKind::Info, {"OK"}, ""},
      {"question-yes", BoxKind::Question, Press::Yes, BoxAnswer::Yes, DialogKind::Question, {"Yes", "No"},
       "linux-replace-question-ru"},
      {"question-no", BoxKind::Question, Press::No, BoxAnswer::No, DialogKind::Question, {"Yes", "No"}, ""},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    script_.Queue({Act(c.press, {}, 400)});
    const std::string text = c.kind == BoxKind::Question ? replace : "Запустите обмен на ТСД";
    const BoxAnswer answer =
        ShowAndTake(Box(c.kind, "Vemlar TSD", text, BoxAnswer::Closed), c.picture);
    EXPECT_EQ(answer, c.answer);
    const DialogEntry e = OnlyRecorded();
    EXPECT_EQ(e.kind, c.seen_as);
    EXPECT_EQ(e.caption, "Vemlar TSD");
    EXPECT_EQ(e.text, text);
    EXPECT_EQ(e.buttons, c.buttons);
    EXPECT_FALSE(e.unanswered);
  }
  // A long text is wrapped inside the box rather than widening it past the screen.
  EXPECT_GT(last_picture_.width, 0);
  EXPECT_LT(last_picture_.width, 480);
}

TEST_F(X11DialogsTest, InformationBoxIsClosedFromTheWaitingThread) {
  script_.Queue({Act(Press::None)});
  BoxCloser closer;
  auto answer = std::async(std::launch::async, [&] {
    return DefaultDialogProvider().ShowMessageBox(Box(BoxKind::Info, "Vemlar TSD", "Run-for-TSD", BoxAnswer::Ok),
                                                  &closer);
  });
  ASSERT_NE(viewer_.Find("Vemlar TSD"), kNoWindow);
  EXPECT_EQ(answer.wait_for(300ms), std::future_status::timeout) << "the box must wait for the user";
  closer.Close();
  ASSERT_EQ(answer.wait_for(3s), std::future_status::ready) << "Close() from another thread must end the box";
  EXPECT_EQ(answer.get(), BoxAnswer::Closed);
  EXPECT_FALSE(viewer_.AnyDialogMapped());

  // A box shown after its closer was closed ends at once, without a window.
  EXPECT_EQ(DefaultDialogProvider().ShowMessageBox(Box(BoxKind::Info, "Vemlar TSD", "x", BoxAnswer::Ok), &closer),
            BoxAnswer::Closed);
  EXPECT_TRUE(script_.TakeRecorded().size() == 1u);
}

SelectionWindowRequest Selection(bool source, const std::vector<std::string>& items, bool russian) {
  SelectionWindowRequest r;
  r.choose_source = source;
  r.caption = source ? (russian ? "Vemlar TSD: Выберите модуль для загрузки." : "Vemlar TSD: Select the module to download.")
                     : (russian ? "Vemlar TSD: Выберите задание для загрузки." : "Vemlar TSD: Select a job to boot.");
  r.ok_text = russian ? "Выбрать" : "Ok";
  r.cancel_text = russian ? "Отмена" : "Cancel";
  r.items = items;
  return r;
}

TEST_F(X11DialogsTest, SourceWindowChoosesOneLine) {
  script_.Queue({Act(Press::Ok, {"Накладные", "Подбор"})});
  const SelectionWindowRequest request = Selection(true, {"Накладные", "Подбор"}, true);
  const SelectionWindowEvent event = DefaultDialogProvider().WaitSelectionWindow(request);
  EXPECT_EQ(event.kind, SelectionWindowEvent::Ok);
  EXPECT_EQ(event.selected, std::vector<int>{1}) << "one line only: the last one clicked";
  const DialogEntry e = OnlyRecorded();
  EXPECT_EQ(e.kind, DialogKind::Select);
  EXPECT_EQ(e.mode, "source");
  EXPECT_EQ(e.caption, request.caption);
  EXPECT_EQ(e.items, request.items);
  EXPECT_EQ(e.buttons, (std::vector<std::string>{"Выбрать", "Отмена"}));
  Viewer::Keep(viewer_.Take(viewer_.Find(request.caption)), "linux-selection-source-ru");
  DefaultDialogProvider().CloseSelectionWindow();
  EXPECT_FALSE(viewer_.AnyDialogMapped());
}

TEST_F(X11DialogsTest, DocumentWindowChoosesSeveralLinesAndDrawsThemChosen) {
  std::vector<std::string> items;
  for (int i = 1; i <= 25; ++i) items.push_back("Заказ № " + std::to_string(i) + " от 10.12.2026");
  // Line 22 is below the visible part: the automation scrolls to it.
  script_.Queue({Act(Press::Ok, {items[21], items[2], items[6]})});
  const SelectionWindowRequest request = Selection(false, items, false);
  const SelectionWindowEvent event = DefaultDialogProvider().WaitSelectionWindow(request);
  EXPECT_EQ(event.kind, SelectionWindowEvent::Ok);
  EXPECT_EQ(event.selected, (std::vector<int>{2, 6, 21}));
  EXPECT_EQ(OnlyRecorded().mode, "documents");

  // The window stays open after the wait, as drawn: the view scrolled to
  // line 22, which is drawn chosen, and the lines around it are not.
  const Window w = viewer_.Find(request.caption);
  ASSERT_NE(w, kNoWindow);
  const Viewer::Picture p = viewer_.Take(w);
  Viewer::Keep(p, "linux-selection-documents-en");
  int chosen_rows = 0, plain_rows = 0;
  for (int y = 2; y < 194; ++y) {
    const unsigned long px = p.At(212, y);  // right of the texts, left of the scroll bar
    if (px == 0x0078d7) ++chosen_rows;
    if (px == 0xffffff) ++plain_rows;
  }
  EXPECT_GT(chosen_rows, 8) << "a chosen line is drawn on the selection colour";
  EXPECT_GT(plain_rows, 100) << "the lines not chosen stay white";
}

TEST_F(X11DialogsTest, WindowStaysOpenAcrossItsNoticeAndExitQuestion) {
  const SelectionWindowRequest request = Selection(false, {"Подбор 1", "Подбор 2"}, true);
  script_.Queue({Act(Press::Ok), Act(Press::Ok, {}, 300), Act(Press::Cancel), Act(Press::No, {}, 300),
                 Act(Press::Close)});
  // OK with nothing chosen; the notice belongs to the window.
  SelectionWindowEvent event = DefaultDialogProvider().WaitSelectionWindow(request);
  EXPECT_EQ(event.kind, SelectionWindowEvent::Ok);
  EXPECT_TRUE(event.selected.empty());
  const Window first = viewer_.Find(request.caption);
  auto notice = std::async(std::launch::async, [] {
    return DefaultDialogProvider().ShowMessageBox(
        Box(BoxKind::Notice, "VemlarTSD", "Не выбрано не одной строки!", BoxAnswer::Ok), nullptr);
  });
  const Window notice_window = viewer_.Find("VemlarTSD");
  ASSERT_NE(notice_window, kNoWindow);
  std::this_thread::sleep_for(150ms);
  Viewer::Keep(viewer_.Take(notice_window), "linux-notice-ru");
  EXPECT_EQ(notice.get(), BoxAnswer::Ok);

  // Back in the same window: Cancel, then the exit question answered No.
  event = DefaultDialogProvider().WaitSelectionWindow(request);
  EXPECT_EQ(event.kind, SelectionWindowEvent::Cancel);
  EXPECT_EQ(viewer_.Find(request.caption), first) << "the window is kept between waits";
  EXPECT_EQ(ShowAndTake(Box(BoxKind::Question, "Выход", "Вы действительно хотите Отменить загрузку?", BoxAnswer::Yes),
                        "linux-exit-question-ru"),
            BoxAnswer::No);

  // A close request, as the title bar's button sends it.
  event = DefaultDialogProvider().WaitSelectionWindow(request);
  EXPECT_EQ(event.kind, SelectionWindowEvent::Close);

  const std::vector<DialogEntry> seen = script_.TakeRecorded();
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[1].kind, DialogKind::Notice) << "the notice is owned by the selection window";
  EXPECT_EQ(seen[1].buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(seen[3].kind, DialogKind::Question);
  EXPECT_EQ(seen[3].caption, "Выход");
  EXPECT_EQ(seen[4].kind, DialogKind::Select);
  DefaultDialogProvider().CloseSelectionWindow();
  EXPECT_FALSE(viewer_.AnyDialogMapped());
}

}  // namespace
}  // namespace vtsd::platform
