// Answers the component's windows the way a person would (the Win32 windows
// on Windows, the X windows on Linux): a thread watches the top-level
// windows of this process, reads each dialog that waits for the user
// (caption, text, button labels, list lines), takes the next action from the
// DialogScript (which records it for the call's output) and carries it out
// on the real window: select list lines, press a button, or ask the window
// to close.
#pragma once

#include <atomic>
#include <thread>

#include "tools/vtsd-host/dialog_script.hpp"

namespace vtsd::host {

class WindowAutomation {
 public:
  explicit WindowAutomation(DialogScript& script) : script_(script), thread_([this] { Run(); }) {}
  ~WindowAutomation() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  WindowAutomation(const WindowAutomation&) = delete;
  WindowAutomation& operator=(const WindowAutomation&) = delete;

 private:
  // The watching thread; each platform's automation defines it.
  void Run();

  DialogScript& script_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace vtsd::host
