// The terminal connection: the listening socket, the listener thread that
// shows the "run the exchange" box and accepts the one terminal, the bounded
// wait for it, and closing. All of it is process-wide; the host's thread
// drives it, the listener thread only accepts.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "addin/messages.hpp"
#include "platform/dialogs.hpp"
#include "platform/socket.hpp"
#include "platform/thread.hpp"

namespace vtsd {

using platform::SocketHandle;

enum class WaitResult { Connected, TimedOut, NoTerminal };

// The listener: listens with a backlog of 1, shows the information box, then
// accepts one connection into DeviceSocket and ends. It never closes shared
// sockets; its owner releases them once it has ended.
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

 private:
  void Execute();
  void ListenAndAccept();

  SocketHandle listen_socket_;
  std::atomic<bool> end_requested_{false};
  std::atomic<const Msg*> failure_{nullptr};
  platform::BoxCloser closer_;
  std::unique_ptr<platform::Thread> thread_;
};

// How often the listener looks at an end request while it waits to accept.
constexpr int kAcceptPollMs = 50;
// How long the host waits for a listener it asked to end; a dialog provider
// that cannot close its box is the only thing that makes it wait this long.
constexpr long long kListenerEndGraceMs = 10000;

// Prepares the listening socket from the connection settings and starts the
// listener. Fails with "1TSD already connected" while a listener or a
// terminal connection exists.
bool StartListening();
// Waits for the listener at most TimeOut seconds. TimedOut: nothing of the
// attempt remains. NoTerminal after a listener failure: nothing remains and
// LastListenerFailure() names the failure.
WaitResult WaitForTerminal();
const Msg* LastListenerFailure();
// Sends "Disconnect" and ends the connection. A terminal that answers 0 keeps
// it; a failed exchange (the terminal is gone) ends it and is re-raised.
bool CloseConnection(int32_t device_id);
// Ends the link without asking the terminal: the listener, the device and
// listening sockets and the socket library use.
void EndConnection();

// The accepted terminal connection, 0 when there is none.
SocketHandle DeviceSocket();
// The device ID the host holds: DeviceSocket as a 32-bit integer.
int32_t DeviceId();
bool ListenerExists();
// The listening socket, kInvalidSocket when closed.
SocketHandle ListenSocket();

}  // namespace vtsd
