// The harness's side of every dialog the component shows: a queue of actions
// that the script gives in advance ("Answer"), and the record of each dialog
// that waited for the user, listed in the output of the call it happened in.
// Both backends use it: the portable one through the component's dialog
// provider, the COM one by watching the windows the real DLL opens.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace vtsd::host {

enum class DialogKind { Info, Question, Notice, Select };

struct DialogAction {
  enum class Press { Ok, Yes, No, Cancel, Close, None };
  Press press = Press::Ok;
  // Lines to select before pressing (selection window only).
  std::vector<std::string> choose;
  bool has_choose = false;
  // Wait this long before acting.
  int after_ms = 0;
};

struct DialogEntry {
  DialogKind kind = DialogKind::Info;
  std::string caption;
  std::string text;
  std::vector<std::string> buttons;  // labels, left to right
  std::vector<std::string> items;    // selection window only
  std::string mode;                  // selection window only: "source" or "documents"
  DialogAction action;               // what the harness did
  bool unanswered = false;           // no action was queued: the safe answer was taken
};

// Thread-safe: a box may be shown by another thread of the component while
// the host's thread waits in a call.
class DialogScript {
 public:
  void Queue(const std::vector<DialogAction>& actions);
  // Drops every queued action.
  void Clear();
  size_t Pending() const;

  // Called each time a dialog waits for the user. Takes the next queued
  // action; with none queued it takes the safe answer: `safe` for a box,
  // Cancel for a selection window, and Yes for the question that follows an
  // unanswered selection-window Cancel (the exit question), so a download
  // with nobody to answer ends cancelled instead of looping. Records the
  // dialog with the action and returns the action to carry out.
  DialogAction Begin(DialogEntry entry, DialogAction::Press safe);

  // The dialogs recorded since the last call, in order.
  std::vector<DialogEntry> TakeRecorded();

 private:
  mutable std::mutex mutex_;
  std::deque<DialogAction> queue_;
  std::vector<DialogEntry> recorded_;
  bool exit_question_follows_ = false;
};

const char* KindText(DialogKind kind);
const char* PressText(DialogAction::Press press);
// False when the text names no action.
bool PressFromText(const std::string& text, DialogAction::Press& press);

// The lines of `items` an action's `choose` names, in ascending order: the
// first not yet chosen line of each text; a single-selection list keeps only
// the last one chosen.
std::vector<int> ChosenLines(const std::vector<std::string>& items, const std::vector<std::string>& choose,
                             bool single);

}  // namespace vtsd::host
