#include "selection/selection_window.hpp"

#include <algorithm>

#include "platform/dialogs.hpp"

namespace vtsd {

namespace selection_window_text {
const Msg kSourceCaption{"Vemlar TSD: Выберите модуль для загрузки.",
                         "Vemlar TSD: Select the module to download."};
const Msg kDocumentCaption{"Vemlar TSD: Выберите задание для загрузки.",
                           "Vemlar TSD: Select a job to boot."};
const Msg kOkButton{"Выбрать", "Ok"};
const Msg kCancelButton{"Отмена", "Cancel"};
const Msg kNoticeCaption{"VemlarTSD", "VemlarTSD"};
const Msg kNotice{"Не выбрано не одной строки!", "Unspecified not one line!"};
const Msg kExitCaption{"Выход", "Exit"};
const Msg kExitQuestion{"Вы действительно хотите Отменить загрузку?",
                        "Do you really want to cancel the download?"};
const Msg kBuildFailed{"№Ошибка при построение окна выбора строк",
                       "№Error while building window select lines"};
}  // namespace selection_window_text

namespace {

namespace text = selection_window_text;
using platform::BoxAnswer;
using platform::BoxKind;
using platform::SelectionWindowEvent;

// Tells the provider the window is finished with, however the wait ends.
class OpenWindow {
 public:
  explicit OpenWindow(SelectionWindowStateRecord& state) : state_(state) { state_.isRunning = true; }
  ~OpenWindow() {
    state_.isRunning = false;
    platform::Dialogs().CloseSelectionWindow();
  }
  OpenWindow(const OpenWindow&) = delete;
  OpenWindow& operator=(const OpenWindow&) = delete;

 private:
  SelectionWindowStateRecord& state_;
};

void ShowNotice() {
  platform::MessageBoxRequest box;
  box.kind = BoxKind::Notice;
  box.caption = text::kNoticeCaption.Text();
  box.text = text::kNotice.Text();
  box.safe_answer = BoxAnswer::Ok;
  platform::Dialogs().ShowMessageBox(box, nullptr);
}

// Cancel and close requests both ask first. With nobody there to answer the
// download is cancelled: answering No would only bring the same request back.
void AskToCancel(SelectionWindowStateRecord& state) {
  platform::MessageBoxRequest box;
  box.kind = BoxKind::Question;
  box.caption = text::kExitCaption.Text();
  box.text = text::kExitQuestion.Text();
  box.safe_answer = BoxAnswer::Yes;
  const BoxAnswer answer = platform::Dialogs().ShowMessageBox(box, nullptr);
  if (answer == BoxAnswer::Yes || answer == BoxAnswer::Closed) {
    state.isRunning = false;
    state.isCancelled = true;
  }
}

// OK: takes the chosen lines, or shows the notice and keeps the window open.
// The texts come from the caller's list, so a line is never cut short.
void ConfirmChoice(SelectionWindowStateRecord& state, const std::vector<std::string>& items,
                   std::vector<int> selected) {
  state.resultText.clear();
  std::sort(selected.begin(), selected.end());
  selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
  for (int index : selected) {
    if (index < 0 || static_cast<size_t>(index) >= items.size()) Raise(text::kBuildFailed);
  }
  if (state.chooseSource) {
    // The source list has at most three lines; only an index among them counts.
    if (selected.empty() || selected.front() > 2) {
      ShowNotice();
      return;
    }
    state.resultText = items[static_cast<size_t>(selected.front())];
  } else {
    if (selected.empty()) {
      ShowNotice();
      return;
    }
    for (int index : selected) {
      state.resultText += items[static_cast<size_t>(index)];
      state.resultText += kChoiceSeparator;
    }
  }
  state.isRunning = false;
}

}  // namespace

SelectionWindowStateRecord& SelectionWindowState() {
  static SelectionWindowStateRecord state;
  return state;
}

void ShowSelectionWindow(bool choose_source, const std::vector<std::string>& items,
                         std::string& out) {
  SelectionWindowStateRecord& state = SelectionWindowState();
  state.chooseSource = choose_source;
  state.resultText.clear();
  out.clear();

  platform::SelectionWindowRequest request;
  request.choose_source = choose_source;
  request.caption = (choose_source ? text::kSourceCaption : text::kDocumentCaption).Text();
  request.ok_text = text::kOkButton.Text();
  request.cancel_text = text::kCancelButton.Text();
  request.items = items;

  {
    OpenWindow window(state);
    while (state.isRunning) {
      SelectionWindowEvent event = platform::Dialogs().WaitSelectionWindow(request);
      switch (event.kind) {
        case SelectionWindowEvent::Ok:
          ConfirmChoice(state, items, std::move(event.selected));
          break;
        case SelectionWindowEvent::Cancel:
        case SelectionWindowEvent::Close:
          AskToCancel(state);
          break;
        case SelectionWindowEvent::Destroyed:
          // Gone without a confirmed choice: a cancel, never an old choice.
          state.isRunning = false;
          state.isCancelled = true;
          state.resultText.clear();
          break;
      }
    }
  }
  out = state.resultText;
}

}  // namespace vtsd
