#include "tools/vtsd-host/scripted_dialogs.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace vtsd::host {

namespace {

using Press = DialogAction::Press;

DialogKind KindOfBox(platform::BoxKind kind) {
  switch (kind) {
    case platform::BoxKind::Info: return DialogKind::Info;
    case platform::BoxKind::Question: return DialogKind::Question;
    case platform::BoxKind::Notice: return DialogKind::Notice;
  }
  return DialogKind::Info;
}

Press PressOfAnswer(platform::BoxAnswer answer) {
  switch (answer) {
    case platform::BoxAnswer::Ok: return Press::Ok;
    case platform::BoxAnswer::Yes: return Press::Yes;
    case platform::BoxAnswer::No: return Press::No;
    case platform::BoxAnswer::Closed: return Press::Close;
  }
  return Press::Ok;
}

platform::BoxAnswer AnswerOfPress(Press press) {
  switch (press) {
    case Press::Ok: return platform::BoxAnswer::Ok;
    case Press::Yes: return platform::BoxAnswer::Yes;
    case Press::No: return platform::BoxAnswer::No;
    case Press::Cancel:
    case Press::Close:
    case Press::None: return platform::BoxAnswer::Closed;
  }
  return platform::BoxAnswer::Closed;
}

// Shared with the close action, which another thread may still be running
// after the box has returned.
struct CloseSignal {
  std::mutex mutex;
  std::condition_variable cv;
  bool closed = false;
};

}  // namespace

platform::BoxAnswer ScriptedDialogProvider::ShowMessageBox(
    const platform::MessageBoxRequest& request, platform::BoxCloser* closer) {
  if (closer && closer->IsClosed()) return platform::BoxAnswer::Closed;

  DialogEntry entry;
  entry.kind = KindOfBox(request.kind);
  entry.caption = request.caption;
  entry.text = request.text;
  if (request.kind == platform::BoxKind::Question)
    entry.buttons = {"Yes", "No"};
  else
    entry.buttons = {"OK"};
  const DialogAction action = script_.Begin(entry, PressOfAnswer(request.safe_answer));

  if (!closer) {
    // Nothing can end this box but the action itself; "none" would wait
    // forever, so it takes the safe answer.
    if (action.after_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(action.after_ms));
    return action.press == Press::None ? request.safe_answer : AnswerOfPress(action.press);
  }

  auto signal = std::make_shared<CloseSignal>();
  closer->SetCloseAction([signal] {
    std::lock_guard<std::mutex> lock(signal->mutex);
    signal->closed = true;
    signal->cv.notify_all();
  });
  bool closed = false;
  {
    std::unique_lock<std::mutex> lock(signal->mutex);
    if (action.press == Press::None) {
      signal->cv.wait(lock, [&] { return signal->closed; });
      closed = true;
    } else {
      closed = signal->cv.wait_for(lock, std::chrono::milliseconds(std::max(0, action.after_ms)),
                                   [&] { return signal->closed; });
    }
  }
  closer->SetCloseAction({});
  return closed ? platform::BoxAnswer::Closed : AnswerOfPress(action.press);
}

platform::SelectionWindowEvent ScriptedDialogProvider::WaitSelectionWindow(
    const platform::SelectionWindowRequest& request) {
  DialogEntry entry;
  entry.kind = DialogKind::Select;
  entry.caption = request.caption;
  entry.buttons = {request.ok_text, request.cancel_text};
  entry.items = request.items;
  entry.mode = request.choose_source ? "source" : "documents";
  const DialogAction action = script_.Begin(entry, Press::Cancel);
  if (action.after_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(action.after_ms));

  platform::SelectionWindowEvent event;
  switch (action.press) {
    case Press::Ok:
    case Press::Yes: {
      event.kind = platform::SelectionWindowEvent::Ok;
      event.selected = ChosenLines(request.items, action.choose, request.choose_source);
      break;
    }
    case Press::Cancel:
    case Press::No: event.kind = platform::SelectionWindowEvent::Cancel; break;
    case Press::Close: event.kind = platform::SelectionWindowEvent::Close; break;
    case Press::None: event.kind = platform::SelectionWindowEvent::Destroyed; break;
  }
  return event;
}

}  // namespace vtsd::host
