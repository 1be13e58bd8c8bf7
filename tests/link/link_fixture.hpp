// The driver-side fixture of the connection tests: settings pointing at a
// free loopback port, a dialog provider whose information box the test
// presses or holds, and calls through the driver's method frame.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "addin/dispatch.hpp"
#include "base/messages.hpp"
#include "base/settings.hpp"
#include "fake_terminal.hpp"
#include "link/connection.hpp"
#include "link/framing.hpp"
#include "platform/dialogs.hpp"
#include "tests/support/value_print.hpp"
#include "tests/support/vector_params.hpp"

namespace vtsd::testing {

// Shows nothing: the box is pressed at once, or held until the test presses
// it or the driver closes it through its closer.
class TestDialogs : public platform::DialogProvider {
 public:
  bool hold = false;

  platform::BoxAnswer ShowMessageBox(const platform::MessageBoxRequest& request,
                                     platform::BoxCloser* closer) override {
    std::unique_lock<std::mutex> lock(mutex_);
    shown_.push_back(request);
    released_ = !hold;
    closed_by_driver_ = false;
    cv_.notify_all();
    if (!released_ && closer) {
      lock.unlock();
      closer->SetCloseAction([this] {
        std::lock_guard<std::mutex> inner(mutex_);
        closed_by_driver_ = true;
        released_ = true;
        cv_.notify_all();
      });
      lock.lock();
    }
    cv_.wait(lock, [this] { return released_; });
    const bool closed = closed_by_driver_;
    lock.unlock();
    if (closer) closer->SetCloseAction({});
    return closed ? platform::BoxAnswer::Closed : platform::BoxAnswer::Ok;
  }
  platform::SelectionWindowEvent WaitSelectionWindow(const platform::SelectionWindowRequest&) override {
    return {};
  }

  void Press() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  bool WaitShown(int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return !shown_.empty(); });
  }
  std::vector<platform::MessageBoxRequest> Shown() {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
  }
  bool ClosedByDriver() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_by_driver_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<platform::MessageBoxRequest> shown_;
  bool released_ = false;
  bool closed_by_driver_ = false;
};

struct CallResult {
  Value ret;
  std::vector<Value> params;
  std::string reported;  // ReportedErrorText after the call; " " when none
};

enum DriverMethod { kOpen = 0, kClose = 1, kDeviceTest = 2 };

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::English);
    ConnectionSettings().IpAddress = "127.0.0.1";
    ConnectionSettings().PortNumber = FreePort();
    ConnectionSettings().TimeOut = 5;
    platform::InstallDialogProvider(&dialogs);
    saved_limit_ = ExchangeTimeLimitMs();
  }
  void TearDown() override {
    terminal.Stop();
    EndConnection();
    platform::InstallDialogProvider(nullptr);
    SetExchangeTimeLimitMs(saved_limit_);
    EXPECT_EQ(platform::SocketLibraryUses(), 0);
  }

  CallResult Call(DriverMethod method, std::vector<Value> params = {Value(), Value()}) {
    test::VectorParams array(std::move(params));
    Value ret = Value::Text("unset");
    SetReportedErrorText(" ");
    CallDriverMethod(method, ret, array);
    return {ret, array.values, GetReportedErrorText()};
  }
  // Open with the box pressed at once and the terminal connecting.
  CallResult OpenWithTerminal() {
    terminal.ConnectTo(ConnectionSettings().PortNumber);
    return Call(kOpen);
  }
  // Calls `method` while its listener's socket stops working under the open
  // information box, so the listener fails instead of accepting.
  CallResult CallWithFailingListener(DriverMethod method) {
    dialogs.hold = true;
    std::thread breaker([this] {
      ASSERT_TRUE(dialogs.WaitShown(5000));
      ::shutdown(static_cast<int>(ListenSocket()), SHUT_RDWR);
      dialogs.Press();
    });
    const CallResult r = Call(method);
    breaker.join();
    dialogs.hold = false;
    return r;
  }
  bool Idle() {
    return !ListenerExists() && DeviceSocket() == 0 && platform::SocketLibraryUses() == 0;
  }

  TestDialogs dialogs;
  FakeTerminal terminal;
  int saved_limit_ = 0;
};

}  // namespace vtsd::testing
