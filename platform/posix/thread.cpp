#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/thread.hpp"

namespace vtsd::platform {

namespace {
class StdThread : public Thread {
 public:
  explicit StdThread(std::function<void()> body) {
    thread_ = std::thread([this, body = std::move(body)] {
      body();
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
      done_cv_.notify_all();
    });
  }
  ~StdThread() override {
    if (thread_.joinable()) thread_.join();
  }
  bool WaitFor(long long timeout_ms) override {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                             [this] { return done_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};
}  // namespace

std::unique_ptr<Thread> Thread::Start(std::function<void()> body) {
  try {
    return std::make_unique<StdThread>(std::move(body));
  } catch (const std::system_error&) {
    return nullptr;
  }
}

}  // namespace vtsd::platform
