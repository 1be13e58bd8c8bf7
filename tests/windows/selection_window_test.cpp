// The real "WinForUser" selection window on the test's thread, driven from a
// second thread the way a user would: its class, window and controls as
// created, the result of a choice, the notice and the cancel question owned
// by the window. With VTSD_SCREENSHOTS set to a directory, the window and
// its boxes are saved there as BMP pictures.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "platform/dialogs.hpp"
#include "platform/win32/wide.hpp"
#include "selection/selection_database.hpp"
#include "selection/selection_window.hpp"
#include "selection/task_upload.hpp"

namespace vtsd {
namespace {

using platform::Narrow;

const std::string kSep = kChoiceSeparator;

std::string TextOf(HWND window) {
  wchar_t buffer[512];
  const int n = ::GetWindowTextW(window, buffer, 512);
  return Narrow(buffer, static_cast<size_t>(n > 0 ? n : 0));
}

std::string ClassOf(HWND window) {
  wchar_t buffer[256];
  const int n = ::GetClassNameW(window, buffer, 256);
  return Narrow(buffer, static_cast<size_t>(n > 0 ? n : 0));
}

// Waits up to five seconds for `find` to give a window.
HWND WaitFor(const std::function<HWND()>& find) {
  for (int i = 0; i < 500; ++i) {
    if (HWND w = find()) return w;
    ::Sleep(10);
  }
  return nullptr;
}

HWND SelectionWindow() {
  return WaitFor([] {
    HWND w = ::FindWindowW(L"WinForUser", nullptr);
    return w && ::IsWindowVisible(w) && ::IsWindowEnabled(w) ? w : nullptr;
  });
}

struct OwnerSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindOwned(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<OwnerSearch*>(p);
  if (::GetWindow(w, GW_OWNER) == s->owner && ::IsWindowVisible(w)) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

// A message box owned by `owner`.
HWND OwnedBox(HWND owner) {
  OwnerSearch search{owner, nullptr};
  return WaitFor([&search] {
    search.found = nullptr;
    ::EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
  });
}

BOOL CALLBACK TakeStaticText(HWND w, LPARAM p) {
  if (ClassOf(w) == "Static" && !TextOf(w).empty()) *reinterpret_cast<std::string*>(p) = TextOf(w);
  return TRUE;
}

// The text of a message box: its static control that is not the icon.
std::string BoxText(HWND box) {
  std::string text;
  ::EnumChildWindows(box, TakeStaticText, reinterpret_cast<LPARAM>(&text));
  return text;
}

void Press(HWND window, int id) {
  ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(window, id)));
}

// Saves what the screen shows of `window` as a 24-bit BMP file.
void Screenshot(HWND window, const char* name) {
  const char* dir = std::getenv("VTSD_SCREENSHOTS");
  if (dir == nullptr || *dir == '\0') return;
  ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  ::Sleep(300);
  RECT r;
  ::GetWindowRect(window, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  ::GdiFlush();
  const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
  const DWORD image = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + image;
  const std::string path = std::string(dir) + "\\" + name + ".bmp";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(&file, sizeof file, 1, f);
    std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f);
    std::fwrite(bits, 1, image, f);
    std::fclose(f);
  }
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
}

// What the user's side saw of the window.
struct Seen {
  std::string windowClass, caption, okClass, okText, cancelText, listClass;
  UINT classStyle = 0;
  LONG_PTR background = 0;
  bool asteriskIcon = false, arrowCursor = false;
  std::string menuName;
  LONG style = 0, okStyle = 0, cancelStyle = 0, listStyle = 0, listExStyle = 0;
  RECT window{}, ok{}, cancel{}, list{};
  bool hasParent = true;
  std::vector<std::string> items;
  std::vector<std::string> boxCaptions, boxTexts;
  std::vector<bool> boxOwnedByWindow;
};

RECT InParent(HWND control) {
  RECT r;
  ::GetWindowRect(control, &r);
  ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void Look(HWND w, Seen& seen) {
  seen.windowClass = ClassOf(w);
  seen.caption = TextOf(w);
  seen.classStyle = static_cast<UINT>(::GetClassLongPtrW(w, GCL_STYLE));
  seen.background = static_cast<LONG_PTR>(::GetClassLongPtrW(w, GCLP_HBRBACKGROUND));
  seen.asteriskIcon = reinterpret_cast<HICON>(::GetClassLongPtrW(w, GCLP_HICON)) ==
                      ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_ASTERISK));
  seen.arrowCursor = reinterpret_cast<HCURSOR>(::GetClassLongPtrW(w, GCLP_HCURSOR)) ==
                     ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  const auto* menu = reinterpret_cast<const wchar_t*>(::GetClassLongPtrW(w, GCLP_MENUNAME));
  if (menu != nullptr && !IS_INTRESOURCE(menu)) seen.menuName = Narrow(menu, std::wcslen(menu));
  seen.style = ::GetWindowLongW(w, GWL_STYLE);
  seen.hasParent = ::GetParent(w) != nullptr || ::GetWindow(w, GW_OWNER) != nullptr;
  ::GetWindowRect(w, &seen.window);
  HWND ok = ::GetDlgItem(w, 258), cancel = ::GetDlgItem(w, 259), list = ::GetDlgItem(w, 257);
  seen.okClass = ClassOf(ok);
  seen.okText = TextOf(ok);
  seen.cancelText = TextOf(cancel);
  seen.listClass = ClassOf(list);
  seen.okStyle = ::GetWindowLongW(ok, GWL_STYLE);
  seen.cancelStyle = ::GetWindowLongW(cancel, GWL_STYLE);
  seen.listStyle = ::GetWindowLongW(list, GWL_STYLE);
  seen.listExStyle = ::GetWindowLongW(list, GWL_EXSTYLE);
  seen.ok = InParent(ok);
  seen.cancel = InParent(cancel);
  seen.list = InParent(list);
  const LRESULT count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = ::SendMessageW(list, LB_GETTEXTLEN, i, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
    seen.items.push_back(Narrow(text.c_str(), static_cast<size_t>(length)));
  }
}

// Answers the next box owned by the window with `button` and notes it.
void AnswerBox(HWND window, Seen& seen, int button, const char* screenshot = nullptr) {
  HWND box = OwnedBox(window);
  if (box == nullptr) {
    seen.boxCaptions.push_back("<no box>");
    return;
  }
  seen.boxCaptions.push_back(TextOf(box));
  seen.boxTexts.push_back(BoxText(box));
  seen.boxOwnedByWindow.push_back(::GetWindow(box, GW_OWNER) == window);
  if (screenshot) Screenshot(box, screenshot);
  Press(box, button);
  // The next box is looked for only once this one is gone and the window
  // takes input again.
  WaitFor([box, window] { return !::IsWindow(box) && ::IsWindowEnabled(window) ? window : nullptr; });
}

bool SameRect(const RECT& r, int x, int y, int w, int h) {
  return r.left == x && r.top == y && r.right - r.left == w && r.bottom - r.top == h;
}

class NativeSelectionWindow : public ::testing::Test {
 protected:
  void SetUp() override { SelectionWindowState().isCancelled = false; }
  void TearDown() override {
    if (user_.joinable()) user_.join();
    SetMessageLanguage(Language::Russian);
  }
  // Runs the user's actions on a second thread while the window's loop runs here.
  void User(std::function<void()> actions) { user_ = std::thread(std::move(actions)); }
  std::thread user_;
};

TEST_F(NativeSelectionWindow, DocumentWindowAsCreatedAndAChoiceInListOrder) {
  SetMessageLanguage(Language::English);
  Seen seen;
  User([&seen] {
    HWND w = SelectionWindow();
    if (!w) return;
    Look(w, seen);
    HWND list = ::GetDlgItem(w, 257);
    // Ctrl-clicks on the third, first and fourth lines.
    ::SendMessageW(list, LB_SETSEL, TRUE, 2);
    ::SendMessageW(list, LB_SETSEL, TRUE, 0);
    ::SendMessageW(list, LB_SETSEL, TRUE, 3);
    Screenshot(w, "selection-documents-en");
    Press(w, 258);
  });
  const std::string longLine(300, 'L');
  std::string out;
  ShowSelectionWindow(false, {"Order 1", "Order 2", "Order 3", longLine}, out);
  user_.join();

  EXPECT_EQ(out, "Order 1" + kSep + "Order 3" + kSep + longLine + kSep);
  EXPECT_FALSE(SelectionWindowState().isCancelled);
  EXPECT_EQ(seen.windowClass, "WinForUser");
  EXPECT_EQ(seen.caption, "Vemlar TSD: Select a job to boot.");
  EXPECT_EQ(seen.classStyle, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
  EXPECT_EQ(seen.background, 1);
  EXPECT_TRUE(seen.asteriskIcon);
  EXPECT_TRUE(seen.arrowCursor);
  EXPECT_EQ(seen.menuName, "Vemlar TSD");
  // An overlapped window: title bar and border, no system menu, no resizing.
  EXPECT_EQ(seen.style & (WS_CHILD | WS_POPUP | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  EXPECT_NE(seen.style & WS_CAPTION, 0);
  EXPECT_FALSE(seen.hasParent);
  EXPECT_TRUE(SameRect(seen.window, 350, 300, 240, 250));
  EXPECT_EQ(seen.okClass, "Button");
  EXPECT_EQ(seen.okText, "Ok");
  EXPECT_EQ(seen.cancelText, "Cancel");
  EXPECT_EQ(seen.listClass, "ListBox");
  EXPECT_EQ(static_cast<DWORD>(seen.okStyle), 0x50000001u);
  EXPECT_EQ(static_cast<DWORD>(seen.cancelStyle), 0x50000000u);
  // The scroll bar style comes and goes with the need for it.
  EXPECT_EQ(static_cast<DWORD>(seen.listStyle) | WS_VSCROLL, 0x50200841u);
  EXPECT_EQ(seen.listExStyle & WS_EX_CLIENTEDGE, WS_EX_CLIENTEDGE);
  EXPECT_TRUE(SameRect(seen.ok, 4, 197, 70, 25));
  EXPECT_TRUE(SameRect(seen.cancel, 170, 197, 60, 25));
  // A list box shows whole lines only, so its height may shrink to a
  // multiple of the line height.
  EXPECT_EQ(seen.list.left, 0);
  EXPECT_EQ(seen.list.top, 0);
  EXPECT_EQ(seen.list.right - seen.list.left, 233);
  EXPECT_GT(seen.list.bottom - seen.list.top, 200 - 20);
  EXPECT_LE(seen.list.bottom - seen.list.top, 200);
  EXPECT_EQ(seen.items, (std::vector<std::string>{"Order 1", "Order 2", "Order 3", longLine}));
  EXPECT_EQ(::FindWindowW(L"WinForUser", nullptr), nullptr) << "the window is gone after the choice";
}

TEST_F(NativeSelectionWindow, NoticeThenCancelAnsweredNoThenYes) {
  SetMessageLanguage(Language::Russian);
  Seen seen;
  User([&seen] {
    HWND w = SelectionWindow();
    if (!w) return;
    Look(w, seen);
    Screenshot(w, "selection-documents-ru");
    Press(w, 258);  // nothing chosen
    AnswerBox(w, seen, IDOK, "notice-ru");
    Press(w, 259);
    AnswerBox(w, seen, IDNO, "exit-question-ru");
    if (!::IsWindow(w)) return;
    Press(w, 259);
    AnswerBox(w, seen, IDYES);
  });
  std::string out = "stale";
  ShowSelectionWindow(false, {"Накладная 1", "Накладная 2"}, out);
  user_.join();

  EXPECT_TRUE(SelectionWindowState().isCancelled);
  EXPECT_EQ(out, "");
  EXPECT_EQ(seen.caption, "Vemlar TSD: Выберите задание для загрузки.");
  EXPECT_EQ(seen.okText, "Выбрать");
  EXPECT_EQ(seen.cancelText, "Отмена");
  EXPECT_EQ(seen.items, (std::vector<std::string>{"Накладная 1", "Накладная 2"}));
  EXPECT_EQ(seen.boxCaptions, (std::vector<std::string>{"VemlarTSD", "Выход", "Выход"}));
  EXPECT_EQ(seen.boxTexts,
            (std::vector<std::string>{"Не выбрано не одной строки!", "Вы действительно хотите Отменить загрузку?",
                                      "Вы действительно хотите Отменить загрузку?"}));
  EXPECT_EQ(seen.boxOwnedByWindow, (std::vector<bool>{true, true, true}));
}

TEST_F(NativeSelectionWindow, SourceWindowTakesOneLineAndCloseRequestAsksFirst) {
  SetMessageLanguage(Language::English);
  Seen seen;
  User([&seen] {
    HWND w = SelectionWindow();
    if (!w) return;
    Look(w, seen);
    ::SendMessageW(::GetDlgItem(w, 257), LB_SETCURSEL, 1, 0);
    Screenshot(w, "selection-source-en");
    ::PostMessageW(w, WM_CLOSE, 0, 0);
    AnswerBox(w, seen, IDNO, "exit-question-en");
    Press(w, 258);
  });
  std::string out;
  ShowSelectionWindow(true, {"Orders", "Podbor"}, out);
  user_.join();

  EXPECT_EQ(out, "Podbor");
  EXPECT_FALSE(SelectionWindowState().isCancelled);
  EXPECT_EQ(seen.caption, "Vemlar TSD: Select the module to download.");
  EXPECT_EQ(static_cast<DWORD>(seen.listStyle) | WS_VSCROLL, 0x50200041u);
  EXPECT_EQ(seen.boxCaptions, (std::vector<std::string>{"Exit"}));
  EXPECT_EQ(seen.boxTexts, (std::vector<std::string>{"Do you really want to cancel the download?"}));
}

TEST_F(NativeSelectionWindow, RussianSourceWindowScreenshot) {
  SetMessageLanguage(Language::Russian);
  Seen seen;
  User([&seen] {
    HWND w = SelectionWindow();
    if (!w) return;
    Look(w, seen);
    ::SendMessageW(::GetDlgItem(w, 257), LB_SETCURSEL, 0, 0);
    Screenshot(w, "selection-source-ru");
    Press(w, 258);
  });
  std::string out;
  ShowSelectionWindow(true, {"Накладные", "Подбор"}, out);
  user_.join();
  EXPECT_EQ(out, "Накладные");
  EXPECT_EQ(seen.caption, "Vemlar TSD: Выберите модуль для загрузки.");
  EXPECT_EQ(seen.okText, "Выбрать");
}

// The task replacement question: a box of its own, owned by no window,
// whose No leaves the task file as it was.
TEST(NativeReplacementQuestion, AskedWithoutOwnerAndNoCancels) {
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  const std::string dir = Narrow(base, std::wcslen(base)) + "vtsd-selection-window-test\\";
  ::CreateDirectoryW(platform::Widen(dir).c_str(), nullptr);
  SetTempDir(dir);
  SetMessageLanguage(Language::English);
  ASSERT_TRUE(CreateSelectionDatabase());
  const char* xml = "<Table PodborName=\"Picking 7\"><Record a=\"4601\" b=\"3\"/></Table>";
  ASSERT_TRUE(AddSelectionTask(xml, kSelectionFileName));

  std::string caption, text;
  HWND owner = reinterpret_cast<HWND>(1);
  std::thread user([&] {
    HWND box = WaitFor([] { return ::FindWindowW(L"#32770", L"Vemlar TSD"); });
    if (!box) return;
    caption = TextOf(box);
    text = BoxText(box);
    owner = ::GetWindow(box, GW_OWNER);
    Screenshot(box, "replace-question-en");
    Press(box, IDNO);
  });
  std::string error;
  try {
    AddSelectionTask(xml, kSelectionFileName);
  } catch (const DriverError& e) {
    error = e.text();
  }
  user.join();
  EXPECT_EQ(error, "7Unloading canceled by the user.");
  EXPECT_EQ(caption, "Vemlar TSD");
  EXPECT_EQ(text,
            "In TSD, the task of selecting the name Picking 7 already exists. Delete the task and upload a new one? "
            "If you click No, the download will be canceled.");
  EXPECT_EQ(owner, nullptr);
  SetMessageLanguage(Language::Russian);
}

}  // namespace
}  // namespace vtsd
