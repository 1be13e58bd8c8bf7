// The listener thread: it shows the "run the exchange" box and accepts the
// one terminal. The terminal session owns it and takes the accepted
// connection over once it has ended.
#pragma once

#include <atomic>
#include <memory>

#include "base/messages.hpp"
#include "platform/dialogs.hpp"
#include "platform/socket.hpp"
#include "platform/thread.hpp"

namespace vtsd {

using platform::SocketHandle;

// The listener: listens with a backlog of 1, shows the information box, then
// accepts one connection and ends. It never closes the listening socket;
// its owner releases it once the listener has ended.
class TMyThread {
 public:
  explicit TMyThread(SocketHandle listen_socket) : listen_socket_(listen_socket) {}
  // Waits for the body's end (it is asked to end first).
  ~TMyThread();
  TMyThread(const TMyThread&) = delete;
  TMyThread& operator=(const TMyThread&) = delete;

  bool Start();
  // Asks the body to end where it stands: the box is closed through its
  // closer and the accept wait sees the request within one poll slice.
  void RequestEnd();
  bool WaitFor(long long timeout_ms);
  bool Finished();
  // The listener's own failure ("listen" or "accept"), or nullptr.
  const Msg* Failure() const { return failure_.load(); }
  // The accepted terminal connection, handed over once (0 when none).
  SocketHandle TakeAccepted();

 private:
  void Execute();
  void ListenAndAccept();

  SocketHandle listen_socket_;
  std::atomic<bool> end_requested_{false};
  std::atomic<const Msg*> failure_{nullptr};
  std::atomic<SocketHandle> accepted_{0};
  platform::BoxCloser closer_;
  std::unique_ptr<platform::Thread> thread_;
};

// How often the listener looks at an end request while it waits to accept.
constexpr int kAcceptPollMs = 50;
// How long the host waits for a listener it asked to end; a dialog provider
// that cannot close its box is the only thing that makes it wait this long.
constexpr long long kListenerEndGraceMs = 10000;

}  // namespace vtsd
