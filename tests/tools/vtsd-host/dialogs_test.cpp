// The harness's dialog provider: queued answers, safe answers, waiting for
// the component to close a box, and the selection-window choices.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/dialog_action.hpp"
#include "tools/vtsd-host/scripted_dialogs.hpp"

namespace vtsd::host {
namespace {

using platform::BoxAnswer;
using platform::BoxKind;
using platform::SelectionWindowEvent;
using Press = DialogAction::Press;

platform::MessageBoxRequest Box(BoxKind kind, BoxAnswer safe = BoxAnswer::Ok) {
  platform::MessageBoxRequest r;
  r.kind = kind;
  r.caption = "Vemlar TSD";
  r.text = "Run-for-TSD";
  r.safe_answer = safe;
  return r;
}

platform::SelectionWindowRequest Window(bool source, std::vector<std::string> items) {
  platform::SelectionWindowRequest r;
  r.choose_source = source;
  r.caption = "Vemlar TSD: Select a job to boot.";
  r.ok_text = "Ok";
  r.cancel_text = "Cancel";
  r.items = std::move(items);
  return r;
}

using test::Act;

class DialogsTest : public ::testing::Test {
 protected:
  DialogScript script;
  ScriptedDialogProvider provider{script};
};

TEST_F(DialogsTest, QueuedActionsAnswerBoxesInOrderAndAreRecorded) {
  script.Queue({Act(Press::Yes), Act(Press::No), Act(Press::Close)});
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Question, BoxAnswer::No), nullptr), BoxAnswer::Yes);
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Question, BoxAnswer::No), nullptr), BoxAnswer::No);
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Info), nullptr), BoxAnswer::Closed);
  EXPECT_EQ(script.Pending(), 0u);

  const std::vector<DialogEntry> rec = script.TakeRecorded();
  ASSERT_EQ(rec.size(), 3u);
  EXPECT_EQ(rec[0].kind, DialogKind::Question);
  EXPECT_EQ(rec[0].buttons, (std::vector<std::string>{"Yes", "No"}));
  EXPECT_EQ(rec[0].caption, "Vemlar TSD");
  EXPECT_EQ(rec[0].text, "Run-for-TSD");
  EXPECT_EQ(rec[1].action.press, Press::No);
  EXPECT_EQ(rec[2].buttons, (std::vector<std::string>{"OK"}));
  for (const DialogEntry& e : rec) EXPECT_FALSE(e.unanswered);
  EXPECT_TRUE(script.TakeRecorded().empty()) << "taken once";
}

TEST_F(DialogsTest, WithNothingQueuedEachBoxTakesItsSafeAnswer) {
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Info), nullptr), BoxAnswer::Ok);
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Question, BoxAnswer::No), nullptr), BoxAnswer::No);
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Notice), nullptr), BoxAnswer::Ok);
  const std::vector<DialogEntry> rec = script.TakeRecorded();
  ASSERT_EQ(rec.size(), 3u);
  for (const DialogEntry& e : rec) EXPECT_TRUE(e.unanswered);
  EXPECT_EQ(rec[1].action.press, Press::No);
  EXPECT_EQ(rec[2].kind, DialogKind::Notice);
}

TEST_F(DialogsTest, NoneWaitsUntilTheComponentClosesTheBox) {
  script.Queue({Act(Press::None)});
  platform::BoxCloser closer;
  std::atomic<bool> closing{false};
  std::thread component_side([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    closing = true;
    closer.Close();
  });
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Info), &closer), BoxAnswer::Closed);
  EXPECT_TRUE(closing.load()) << "the box returned before it was closed";
  component_side.join();
  EXPECT_EQ(script.TakeRecorded().at(0).action.press, Press::None);
}

TEST_F(DialogsTest, AClosedBoxStopsWaitingForItsDelayedAction) {
  script.Queue({Act(Press::Ok, {}, 60000)});
  platform::BoxCloser closer;
  std::thread component_side([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    closer.Close();
  });
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Info), &closer), BoxAnswer::Closed);
  component_side.join();
}

TEST_F(DialogsTest, ADelayedActionIsCarriedOutAfterItsDelay) {
  script.Queue({Act(Press::Ok, {}, 30)});
  platform::BoxCloser closer;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Info), &closer), BoxAnswer::Ok);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(DialogsTest, ABoxShownAfterItsCloseEndsAtOnceWithoutTakingAnAction) {
  script.Queue({Act(Press::Yes)});
  platform::BoxCloser closer;
  closer.Close();
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Info), &closer), BoxAnswer::Closed);
  EXPECT_EQ(script.Pending(), 1u);
  EXPECT_TRUE(script.TakeRecorded().empty());
}

TEST_F(DialogsTest, UnansweredSelectionWindowIsCancelledAndItsExitQuestionConfirmed) {
  const auto window = Window(false, {"A", "B"});
  EXPECT_EQ(provider.WaitSelectionWindow(window).kind, SelectionWindowEvent::Cancel);
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Question, BoxAnswer::No), nullptr), BoxAnswer::Yes);
  // Only the question right after the cancel is confirmed.
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Question, BoxAnswer::No), nullptr), BoxAnswer::No);

  const std::vector<DialogEntry> rec = script.TakeRecorded();
  ASSERT_EQ(rec.size(), 3u);
  EXPECT_EQ(rec[0].kind, DialogKind::Select);
  EXPECT_EQ(rec[0].mode, "documents");
  EXPECT_EQ(rec[0].items, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(rec[0].buttons, (std::vector<std::string>{"Ok", "Cancel"}));
  EXPECT_EQ(rec[0].action.press, Press::Cancel);
  EXPECT_EQ(rec[1].action.press, Press::Yes);
  EXPECT_TRUE(rec[0].unanswered && rec[1].unanswered && rec[2].unanswered);

  // A queued No to the exit question keeps the window; it is listed again.
  script.Queue({Act(Press::Cancel), Act(Press::No)});
  EXPECT_EQ(provider.WaitSelectionWindow(window).kind, SelectionWindowEvent::Cancel);
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Question, BoxAnswer::No), nullptr), BoxAnswer::No);
  EXPECT_EQ(provider.WaitSelectionWindow(window).kind, SelectionWindowEvent::Cancel);
  EXPECT_EQ(provider.ShowMessageBox(Box(BoxKind::Question, BoxAnswer::No), nullptr), BoxAnswer::Yes);
  EXPECT_EQ(script.TakeRecorded().size(), 4u);
}

TEST_F(DialogsTest, ChosenLinesBecomeSelectedIndices) {
  struct Case {
    const char* what;
    bool source;
    std::vector<std::string> items;
    DialogAction action;
    SelectionWindowEvent::Kind kind;
    std::vector<int> selected;
  };
  const Case cases[] = {
      {"documents in list order", false, {"A", "B", "C"}, Act(Press::Ok, {"C", "A"}),
       SelectionWindowEvent::Ok, {0, 2}},
      {"same text twice", false, {"X", "Y", "X"}, Act(Press::Ok, {"X", "X"}),
       SelectionWindowEvent::Ok, {0, 2}},
      {"unknown text selects nothing", false, {"A"}, Act(Press::Ok, {"Z"}),
       SelectionWindowEvent::Ok, {}},
      {"source keeps the last click", true, {"Orders", "Selection"},
       Act(Press::Ok, {"Orders", "Selection"}), SelectionWindowEvent::Ok, {1}},
      {"ok with nothing chosen", true, {"Orders"}, Act(Press::Ok), SelectionWindowEvent::Ok, {}},
      {"empty line", false, {"", "A"}, Act(Press::Ok, {""}), SelectionWindowEvent::Ok, {0}},
      {"close request", false, {"A"}, Act(Press::Close), SelectionWindowEvent::Close, {}},
      {"gone otherwise", false, {"A"}, Act(Press::None), SelectionWindowEvent::Destroyed, {}},
  };
  for (const Case& c : cases) {
    script.Queue({c.action});
    const SelectionWindowEvent e = provider.WaitSelectionWindow(Window(c.source, c.items));
    EXPECT_EQ(e.kind, c.kind) << c.what;
    EXPECT_EQ(e.selected, c.selected) << c.what;
    EXPECT_EQ(script.TakeRecorded().at(0).mode, c.source ? "source" : "documents");
  }
}

}  // namespace
}  // namespace vtsd::host
