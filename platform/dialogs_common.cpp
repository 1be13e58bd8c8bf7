#include <atomic>

#include "platform/dialogs.hpp"

namespace vtsd::platform {

namespace {
std::atomic<DialogProvider*> g_installed{nullptr};
}

void BoxCloser::Close() {
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    action = action_;
  }
  if (action) action();
}

bool BoxCloser::IsClosed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

void BoxCloser::SetCloseAction(std::function<void()> action) {
  bool run_now = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    action_ = action;
    run_now = closed_ && action_;
  }
  if (run_now) action();
}

DialogProvider& Dialogs() {
  DialogProvider* p = g_installed.load();
  return p ? *p : DefaultDialogProvider();
}

void InstallDialogProvider(DialogProvider* provider) { g_installed.store(provider); }

}  // namespace vtsd::platform
