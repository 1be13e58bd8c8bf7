#include "tools/vtsd-host/dialog_script.hpp"

#include <algorithm>
#include <utility>

namespace vtsd::host {

void DialogScript::Queue(const std::vector<DialogAction>& actions) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.insert(queue_.end(), actions.begin(), actions.end());
}

void DialogScript::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.clear();
}

size_t DialogScript::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

DialogAction DialogScript::Begin(DialogEntry entry, DialogAction::Press safe) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool exit_question_follows = exit_question_follows_;
  exit_question_follows_ = false;
  if (!queue_.empty()) {
    entry.action = queue_.front();
    queue_.pop_front();
    entry.unanswered = false;
  } else {
    entry.unanswered = true;
    entry.action = DialogAction();
    if (entry.kind == DialogKind::Select) {
      entry.action.press = DialogAction::Press::Cancel;
      exit_question_follows_ = true;
    } else if (entry.kind == DialogKind::Question && exit_question_follows) {
      entry.action.press = DialogAction::Press::Yes;
    } else {
      entry.action.press = safe;
    }
  }
  DialogAction action = entry.action;
  recorded_.push_back(std::move(entry));
  return action;
}

std::vector<DialogEntry> DialogScript::TakeRecorded() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<DialogEntry> out;
  out.swap(recorded_);
  return out;
}

const char* KindText(DialogKind kind) {
  switch (kind) {
    case DialogKind::Info: return "info";
    case DialogKind::Question: return "question";
    case DialogKind::Notice: return "notice";
    case DialogKind::Select: return "select";
  }
  return "info";
}

namespace {
struct PressName {
  DialogAction::Press press;
  const char* text;
};
constexpr PressName kPressNames[] = {
    {DialogAction::Press::Ok, "ok"},         {DialogAction::Press::Yes, "yes"},
    {DialogAction::Press::No, "no"},         {DialogAction::Press::Cancel, "cancel"},
    {DialogAction::Press::Close, "close"},   {DialogAction::Press::None, "none"},
};
}  // namespace

const char* PressText(DialogAction::Press press) {
  for (const PressName& p : kPressNames)
    if (p.press == press) return p.text;
  return "ok";
}

bool PressFromText(const std::string& text, DialogAction::Press& press) {
  for (const PressName& p : kPressNames) {
    if (text == p.text) {
      press = p.press;
      return true;
    }
  }
  return false;
}

std::vector<int> ChosenLines(const std::vector<std::string>& items, const std::vector<std::string>& choose,
                             bool single) {
  std::vector<bool> taken(items.size(), false);
  std::vector<int> chosen;
  for (const std::string& text : choose) {
    for (size_t i = 0; i < items.size(); ++i) {
      if (!taken[i] && items[i] == text) {
        if (single) {
          std::fill(taken.begin(), taken.end(), false);
          chosen.clear();
        }
        taken[i] = true;
        chosen.push_back(static_cast<int>(i));
        break;
      }
    }
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

}  // namespace vtsd::host
