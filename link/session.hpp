// The terminal session: the one owner of everything the driver knows about
// the terminal it talks to. The listening socket and the listener, the
// accepted connection and the device ID the host holds for it, the packet
// size of the current transfer, the application's version and the
// terminal's identifier all live here,
// are reset in one place, and go away together.
//
// Every exchange goes through the session. A failure that leaves the byte
// stream in an unknown state (a send or receive that failed or ran out of
// time, a reply no request can have, a number that does not decode) breaks
// the session: its socket is closed at once, so a late reply can never be
// read as the answer to a later request, and every later exchange fails at
// once with the broken-exchange message without touching the network. The
// host ends a broken session with Close; Open then works again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "base/messages.hpp"
#include "base/value.hpp"
#include "link/framing.hpp"
#include "platform/socket.hpp"

namespace vtsd {

class TMyThread;

class TerminalSession {
 public:
  TerminalSession();
  ~TerminalSession();
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  // The device ID the host holds (the accepted socket's value), 0 when no
  // terminal is connected. A broken session keeps its ID until it is ended.
  int32_t device_id() const { return device_id_; }
  bool broken() const { return broken_; }
  // The accepted connection; kInvalidSocket once broken, 0 when none.
  SocketHandle socket() const { return device_; }

  // One request and its reply. A failure breaks the session (see above).
  Reply Exchange(const Payload& request, const ReplyExpectation& expect = {});
  std::string ExchangeText(const Payload& request);
  int32_t ExchangeNumber(const Payload& request);
  // Sends a frame built by the caller (length prefix included) and reads
  // its reply as a number.
  int32_t SendFrameForNumber(const uint8_t* frame, std::size_t size);

  // The terminal's largest request, as answered to the transfer's
  // "GetHrpMaxBuffer".
  int32_t packet_size = 0;
  // The application's version as last answered to "ProgrammVersion"; "" before.
  std::string app_version;
  // The identifier the driver keeps in a file of its own on the terminal
  // (terminal_id.hpp), established once per connection; "" when the
  // terminal has none the driver can read or write.
  std::string terminal_id;
  bool terminal_id_known = false;
  // The files this connection's last fetch found missing or empty on the
  // terminal (kept_copies.hpp): a send must not find one of them there with
  // content.
  std::set<std::string> reported_absent;

  // --- the connection (connection.cpp) ---
  // Prepares the listening socket from the connection settings and starts
  // the listener. Fails with "1TSD already connected" while a listener or a
  // terminal connection exists.
  void StartListening();
  // Waits for the listener at most TimeOut seconds. TimedOut: nothing of the
  // attempt remains. NoTerminal after a listener failure: nothing remains
  // and last_listener_failure() names the failure.
  enum class WaitResult { Connected, TimedOut, NoTerminal };
  WaitResult WaitForTerminal();
  const Msg* last_listener_failure() const { return last_failure_; }
  bool listener_exists() const { return listener_ != nullptr; }
  SocketHandle listen_socket() const { return listen_.get(); }
  // Sends "Disconnect" and ends the session. A terminal that answers 0 keeps
  // it; a failed exchange ends it and is re-raised; a broken session ends
  // here without a request.
  void CloseConnection(int32_t device_id);
  // Takes over a connected socket as the terminal's connection (the one the
  // listener accepted; a connection made elsewhere in tests and benchmarks).
  void Adopt(SocketHandle socket);
  // Marks the session broken and closes its socket; the ID stays.
  void Break();
  // Ends everything: the listener, the device and listening sockets, the
  // socket library use, and what the session learnt of the terminal.
  void End();
  // Init: forgets an ended listener (a connection that exists stays usable).
  void ForgetEndedListener();
  // Done: asks a remaining listener to end and waits for it; the sockets stay.
  void ReleaseListener();

 private:
  // What was learnt of the terminal itself goes with its connection.
  void ForgetTerminal();
  // Runs one exchange step; any failure breaks the session first.
  template <typename Step>
  auto Guarded(Step step) -> decltype(step());

  platform::SocketOwner listen_;
  std::unique_ptr<TMyThread> listener_;
  SocketHandle device_ = 0;
  int32_t device_id_ = 0;
  bool broken_ = false;
  bool library_started_ = false;
  const Msg* last_failure_ = nullptr;
};

// The process-wide session (the host requires one for every component
// object).
TerminalSession& Session();

// The session the device ID a terminal method was given names, at the place
// of the method's connected-device check: `not_connected` when the value is
// not the ID of the connected terminal, the broken-exchange message when it
// names a broken session.
TerminalSession& SessionForDevice(const Value& device_id, const Msg& not_connected);

}  // namespace vtsd
