// The Linux dialogs in a process that has no display to draw on. A program
// of its own: the dialogs keep the process's first connection to the X
// server, so the program that tests them on Xvfb cannot lose its display.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/dialogs.hpp"

namespace vtsd::platform {
namespace {

MessageBoxRequest Box(BoxKind kind, BoxAnswer safe) {
  MessageBoxRequest r;
  r.kind = kind;
  r.caption = "Vemlar TSD";
  r.text = "?";
  r.safe_answer = safe;
  return r;
}

// Nothing waits: a box takes its safe answer and the selection window
// reports that it could not be built. Neither an unset DISPLAY nor one that
// names no server may block the call.
TEST(X11DialogsWithoutDisplay, AnswerAtOnce) {
  for (const char* display : {"", ":9999"}) {
    SCOPED_TRACE(display);
    ::setenv("DISPLAY", display, 1);
    EXPECT_EQ(DefaultDialogProvider().ShowMessageBox(Box(BoxKind::Question, BoxAnswer::No), nullptr), BoxAnswer::No);
    EXPECT_EQ(DefaultDialogProvider().ShowMessageBox(Box(BoxKind::Question, BoxAnswer::Yes), nullptr),
              BoxAnswer::Yes);
    EXPECT_EQ(DefaultDialogProvider().ShowMessageBox(Box(BoxKind::Info, BoxAnswer::Ok), nullptr), BoxAnswer::Ok);
    SelectionWindowRequest selection;
    selection.choose_source = true;
    selection.caption = "Vemlar TSD: Select the module to download.";
    selection.ok_text = "Ok";
    selection.cancel_text = "Cancel";
    selection.items = {"a"};
    const SelectionWindowEvent event = DefaultDialogProvider().WaitSelectionWindow(selection);
    EXPECT_EQ(event.kind, SelectionWindowEvent::Ok);
    EXPECT_EQ(event.selected, std::vector<int>{-1});
    DefaultDialogProvider().CloseSelectionWindow();
  }
}

}  // namespace
}  // namespace vtsd::platform
