#include <windows.h>
#include <process.h>

#include "platform/thread.hpp"

namespace vtsd::platform {

namespace {
class Win32Thread : public Thread {
 public:
  explicit Win32Thread(std::function<void()> body) : body_(std::move(body)) {}
  ~Win32Thread() override {
    if (handle_) {
      ::WaitForSingleObject(handle_, INFINITE);
      ::CloseHandle(handle_);
    }
  }
  bool Begin() {
    // Created suspended so the handle is stored before the body runs.
    const uintptr_t h = ::_beginthreadex(nullptr, 0, &Win32Thread::Entry, this, CREATE_SUSPENDED,
                                         nullptr);
    if (h == 0) return false;
    handle_ = reinterpret_cast<HANDLE>(h);
    ::ResumeThread(handle_);
    return true;
  }
  bool WaitFor(long long timeout_ms) override {
    if (timeout_ms < 0) timeout_ms = 0;
    if (timeout_ms >= INFINITE) timeout_ms = INFINITE - 1;
    return ::WaitForSingleObject(handle_, static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0;
  }

 private:
  static unsigned __stdcall Entry(void* self) {
    static_cast<Win32Thread*>(self)->body_();
    return 0;
  }
  std::function<void()> body_;
  HANDLE handle_ = nullptr;
};
}  // namespace

std::unique_ptr<Thread> Thread::Start(std::function<void()> body) {
  auto thread = std::make_unique<Win32Thread>(std::move(body));
  if (!thread->Begin()) return nullptr;
  return thread;
}

}  // namespace vtsd::platform
