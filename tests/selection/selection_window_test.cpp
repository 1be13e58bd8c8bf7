#include <gtest/gtest.h>

#include <cstdlib>

#include "selection/selection_window.hpp"
#include "tests/selection/fixtures.hpp"

namespace vtsd {
namespace {

using platform::BoxAnswer;
using platform::BoxKind;
using platform::SelectionWindowEvent;
using test::ScriptedDialogs;

const std::string kSep = kChoiceSeparator;

class SelectionWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::English);
    SelectionWindowState().isCancelled = false;
  }
  void TearDown() override { SetMessageLanguage(Language::Russian); }
  ScriptedDialogs dialogs;
};

TEST_F(SelectionWindowTest, CaptionsAndButtonsFollowModeAndLanguage) {
  struct Case {
    bool source;
    Language language;
    const char* caption;
    const char* ok;
    const char* cancel;
  } cases[] = {
      {true, Language::English, "Vemlar TSD: Select the module to download.", "Ok", "Cancel"},
      {true, Language::Russian, "Vemlar TSD: Выберите модуль для загрузки.", "Выбрать", "Отмена"},
      {false, Language::English, "Vemlar TSD: Select a job to boot.", "Ok", "Cancel"},
      {false, Language::Russian, "Vemlar TSD: Выберите задание для загрузки.", "Выбрать", "Отмена"},
  };
  for (const Case& c : cases) {
    SetMessageLanguage(c.language);
    dialogs.windows.clear();
    dialogs.Ok({0});
    std::string out;
    ShowSelectionWindow(c.source, {"first", "second"}, out);
    ASSERT_EQ(dialogs.windows.size(), 1u);
    const auto& w = dialogs.windows[0];
    EXPECT_EQ(w.caption, c.caption);
    EXPECT_EQ(w.ok_text, c.ok);
    EXPECT_EQ(w.cancel_text, c.cancel);
    EXPECT_EQ(w.choose_source, c.source);
    EXPECT_EQ(w.items, (std::vector<std::string>{"first", "second"}));
  }
}

TEST_F(SelectionWindowTest, OkWithoutChoiceShowsNoticeAndKeepsWindowOpen) {
  dialogs.Ok({});
  dialogs.Answer(BoxAnswer::Ok);
  dialogs.Ok({1});
  std::string out;
  ShowSelectionWindow(true, {"Orders", "Podbor"}, out);

  EXPECT_EQ(out, "Podbor");
  EXPECT_FALSE(SelectionWindowState().isCancelled);
  EXPECT_EQ(dialogs.windows.size(), 2u);
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].kind, BoxKind::Notice);
  EXPECT_EQ(dialogs.boxes[0].caption, "VemlarTSD");
  EXPECT_EQ(dialogs.boxes[0].text, "Unspecified not one line!");
  EXPECT_EQ(dialogs.closes, 1);
}

TEST_F(SelectionWindowTest, EmptyListOnlyShowsNoticeUntilCancelled) {
  SetMessageLanguage(Language::Russian);
  dialogs.Ok({});
  dialogs.Answer(BoxAnswer::Ok);
  dialogs.Window(SelectionWindowEvent::Cancel);
  dialogs.Answer(BoxAnswer::Yes);
  std::string out = "stale";
  ShowSelectionWindow(false, {}, out);

  EXPECT_EQ(out, "");
  EXPECT_TRUE(SelectionWindowState().isCancelled);
  ASSERT_EQ(dialogs.boxes.size(), 2u);
  EXPECT_EQ(dialogs.boxes[0].text, "Не выбрано не одной строки!");
  EXPECT_EQ(dialogs.boxes[1].caption, "Выход");
  EXPECT_EQ(dialogs.boxes[1].text, "Вы действительно хотите Отменить загрузку?");
}

TEST_F(SelectionWindowTest, DocumentChoiceListsLinesInListOrderEachWithSeparator) {
  // Reported in click order (Ctrl), returned in list order; an empty line
  // still contributes its separator.
  dialogs.Ok({3, 0, 2});
  std::string out;
  ShowSelectionWindow(false, {"A", "B", "", "D"}, out);
  EXPECT_EQ(out, "A" + kSep + "" + kSep + "D" + kSep);
  EXPECT_EQ(SelectionWindowState().resultText, out);
}

TEST_F(SelectionWindowTest, SourceModeIgnoresLinesPastTheThird) {
  dialogs.Ok({3});
  dialogs.Answer(BoxAnswer::Ok);
  dialogs.Ok({2});
  std::string out;
  ShowSelectionWindow(true, {"a", "b", "c", "d"}, out);
  EXPECT_EQ(out, "c");
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].kind, BoxKind::Notice);
}

TEST_F(SelectionWindowTest, LongLineIsReturnedWhole) {
  const std::string longLine(300, 'x');
  const std::string cyrillic = std::string(200, 'y') + "Задание";
  dialogs.Ok({0, 1});
  std::string out;
  ShowSelectionWindow(false, {longLine, cyrillic}, out);
  EXPECT_EQ(out, longLine + kSep + cyrillic + kSep);
}

TEST_F(SelectionWindowTest, CancelAskedNoKeepsWindowThenYesCancels) {
  for (auto request : {SelectionWindowEvent::Cancel, SelectionWindowEvent::Close}) {
    SCOPED_TRACE(request);
    dialogs.windows.clear();
    dialogs.boxes.clear();
    SelectionWindowState().isCancelled = false;
    dialogs.Window(request);
    dialogs.Answer(BoxAnswer::No);
    dialogs.Window(request);
    dialogs.Answer(BoxAnswer::Yes);
    std::string out;
    ShowSelectionWindow(false, {"A"}, out);

    EXPECT_EQ(out, "");
    EXPECT_TRUE(SelectionWindowState().isCancelled);
    EXPECT_FALSE(SelectionWindowState().isRunning);
    EXPECT_EQ(dialogs.windows.size(), 2u);
    ASSERT_EQ(dialogs.boxes.size(), 2u);
    for (const auto& box : dialogs.boxes) {
      EXPECT_EQ(box.kind, BoxKind::Question);
      EXPECT_EQ(box.caption, "Exit");
      EXPECT_EQ(box.text, "Do you really want to cancel the download?");
    }
  }
}

TEST_F(SelectionWindowTest, CancelNoThenOkStillTakesTheChoice) {
  dialogs.Window(SelectionWindowEvent::Cancel);
  dialogs.Answer(BoxAnswer::No);
  dialogs.Ok({0});
  std::string out;
  ShowSelectionWindow(false, {"A", "B"}, out);
  EXPECT_EQ(out, "A" + kSep);
  EXPECT_FALSE(SelectionWindowState().isCancelled);
}

TEST_F(SelectionWindowTest, WindowGoneWithoutConfirmationIsACancelNotAStaleChoice) {
  dialogs.Ok({1});
  std::string first;
  ShowSelectionWindow(false, {"A", "B"}, first);
  ASSERT_EQ(first, "B" + kSep);

  dialogs.Window(SelectionWindowEvent::Destroyed);
  std::string second = "untouched";
  ShowSelectionWindow(false, {"A", "B"}, second);
  EXPECT_EQ(second, "");
  EXPECT_EQ(SelectionWindowState().resultText, "");
  EXPECT_TRUE(SelectionWindowState().isCancelled);
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(SelectionWindowTest, ChoiceOutsideTheListRaisesAndReleasesTheWindow) {
  dialogs.Ok({0, 5});
  std::string out;
  EXPECT_EQ(test::RaisedText([&] { ShowSelectionWindow(false, {"A", "B"}, out); }),
            "№Error while building window select lines");
  EXPECT_EQ(dialogs.closes, 1);
  EXPECT_FALSE(SelectionWindowState().isRunning);
}

}  // namespace
}  // namespace vtsd

namespace vtsd {
namespace {

// The default provider draws on the X display; without one the window
// cannot be built, and the call says so at once instead of waiting for an
// answer nobody can give.
TEST(SelectionWindowDefault, WithoutADisplayTheWindowCannotBeBuilt) {
  platform::InstallDialogProvider(nullptr);
  ::unsetenv("DISPLAY");
  SelectionWindowState().isCancelled = false;
  std::string out = "x";
  EXPECT_EQ(test::RaisedText([&] { ShowSelectionWindow(true, {"Orders", "Podbor"}, out); }),
            "№Ошибка при построение окна выбора строк");
  EXPECT_FALSE(SelectionWindowState().isRunning);
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace vtsd
