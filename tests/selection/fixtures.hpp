// Shared pieces of the selection tests: a scratch TempDir, direct SQLite
// access to the files the driver writes and reads, and a dialog provider
// that plays the user from a script and records what was shown.
#pragma once

#include <sqlite3.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dialogs.hpp"
#include "tests/support/raised_text.hpp"
#include "tests/support/scratch_dir.hpp"

namespace vtsd::test {

std::string ReadBytes(const std::string& path);

// Every schema entry and every row of every table of a SQLite file, as
// text: equal dumps mean equal contents.
std::string Dump(const std::string& path);

// A SQLite file opened directly, outside the driver.
class Db {
 public:
  explicit Db(const std::string& path);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
  void Exec(const std::string& sql);
  // Every row of a query, each column as text ("<NULL>" for NULL).
  std::vector<std::vector<std::string>> Rows(const std::string& sql);
  // The names of the tables (or indexes) in the file, sorted.
  std::vector<std::string> Names(const std::string& type);

 private:
  sqlite3* db_ = nullptr;
};

// Plays the user: each selection-window wait takes the next queued event and
// each message box the next queued answer; everything shown is recorded.
class ScriptedDialogs : public platform::DialogProvider {
 public:
  ScriptedDialogs() { platform::InstallDialogProvider(this); }
  ~ScriptedDialogs() override { platform::InstallDialogProvider(nullptr); }

  void Ok(std::vector<int> selected) {
    platform::SelectionWindowEvent e;
    e.kind = platform::SelectionWindowEvent::Ok;
    e.selected = std::move(selected);
    events.push_back(e);
  }
  void Window(platform::SelectionWindowEvent::Kind kind) {
    platform::SelectionWindowEvent e;
    e.kind = kind;
    events.push_back(e);
  }
  void Answer(platform::BoxAnswer answer) { answers.push_back(answer); }

  platform::BoxAnswer ShowMessageBox(const platform::MessageBoxRequest& request,
                                     platform::BoxCloser*) override {
    boxes.push_back(request);
    if (answers.empty()) throw std::logic_error("unexpected box: " + request.text);
    const platform::BoxAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  platform::SelectionWindowEvent WaitSelectionWindow(
      const platform::SelectionWindowRequest& request) override {
    windows.push_back(request);
    if (events.empty()) throw std::logic_error("unexpected wait in window: " + request.caption);
    platform::SelectionWindowEvent e = events.front();
    events.pop_front();
    return e;
  }
  void CloseSelectionWindow() override { ++closes; }

  std::deque<platform::SelectionWindowEvent> events;
  std::deque<platform::BoxAnswer> answers;
  std::vector<platform::MessageBoxRequest> boxes;
  std::vector<platform::SelectionWindowRequest> windows;
  int closes = 0;
};

}  // namespace vtsd::test
