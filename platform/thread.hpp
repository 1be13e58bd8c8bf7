// A worker thread whose end another thread can wait for with a time limit.
// Windows uses a Win32 thread, POSIX a standard thread.
#pragma once

#include <functional>
#include <memory>

namespace vtsd::platform {

class Thread {
 public:
  // Starts running body at once; nullptr when the thread cannot be made.
  static std::unique_ptr<Thread> Start(std::function<void()> body);
  // Waits for the body's end without limit before the thread is released.
  virtual ~Thread() = default;
  // True once the body has returned; waits at most timeout_ms for that.
  virtual bool WaitFor(long long timeout_ms) = 0;
  bool Finished() { return WaitFor(0); }
};

}  // namespace vtsd::platform
