// TCP sockets: the listening socket of the terminal link, the accepted
// terminal connection and the blocking send and receive it is spoken over.
// Windows implements this with Winsock 2.2, POSIX with BSD sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vtsd::platform {

// A socket's value as the operating system gives it; the terminal's device ID
// is this value as a 32-bit integer.
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kInvalidSocket = ~static_cast<SocketHandle>(0);

// Why the last send, receive or wait on this thread failed.
enum class SocketErrorKind {
  ConnReset,  // the peer reset the connection
  TimedOut,   // a receive or send time-out ran out
  Other,
};

// Start and end one use of the socket library (WSAStartup 2.2/WSACleanup on
// Windows). Every successful start must be matched by one end.
bool StartSocketLibrary();
void EndSocketLibrary();
// Uses started and not yet ended; lets tests check the balance.
int SocketLibraryUses();

// A TCP stream socket over IPv4, or kInvalidSocket.
SocketHandle CreateTcpSocket();
// Binds to a dotted IPv4 address text and a port. A text that is no address
// binds to the address the system's conversion yields for it (any address).
// POSIX sets SO_REUSEADDR first, so a port that just carried a connection can
// be listened on again at once; Windows sets no reuse option.
bool BindIPv4(SocketHandle socket, const std::string& address, uint16_t port);
bool Listen(SocketHandle socket, int backlog);
// The port a bound socket uses (useful after binding port 0); 0 on failure.
uint16_t LocalPort(SocketHandle socket);
// Waits until a connection can be accepted or data can be read, at most
// timeout_ms. 1: ready, 0: time ran out, -1: failure.
int WaitReadable(SocketHandle socket, int timeout_ms);
// Accepts one connection without asking for the peer's address.
SocketHandle Accept(SocketHandle socket);
// Connects to a dotted IPv4 address and port (the terminal side: tests,
// benchmarks and the simulator).
SocketHandle ConnectIPv4(const std::string& address, uint16_t port);
// Time limit of every later blocking send and receive on the socket; a call
// that runs out fails with SocketErrorKind::TimedOut. 0 = no limit.
bool SetTimeouts(SocketHandle socket, int timeout_ms);
// One send call (no SIGPIPE on POSIX): bytes sent, or <= 0 on failure.
int64_t Send(SocketHandle socket, const void* bytes, std::size_t count);
// One receive call: bytes received, 0 when the peer closed, < 0 on failure.
int64_t Receive(SocketHandle socket, void* buffer, std::size_t count);
// The kind of the last failure of a socket call on this thread.
SocketErrorKind LastSocketError();
void CloseSocket(SocketHandle socket);

// Owns one socket and closes it when destroyed.
class SocketOwner {
 public:
  SocketOwner() = default;
  explicit SocketOwner(SocketHandle s) : s_(s) {}
  ~SocketOwner() { reset(); }
  SocketOwner(SocketOwner&& other) noexcept : s_(other.release()) {}
  SocketOwner& operator=(SocketOwner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  SocketOwner(const SocketOwner&) = delete;
  SocketOwner& operator=(const SocketOwner&) = delete;

  SocketHandle get() const { return s_; }
  bool valid() const { return s_ != kInvalidSocket; }
  SocketHandle release() {
    SocketHandle s = s_;
    s_ = kInvalidSocket;
    return s;
  }
  void reset(SocketHandle s = kInvalidSocket) {
    if (s_ != kInvalidSocket) CloseSocket(s_);
    s_ = s;
  }

 private:
  SocketHandle s_ = kInvalidSocket;
};

}  // namespace vtsd::platform
