#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/socket.hpp"

namespace vtsd::platform {

namespace {
std::atomic<int> g_library_uses{0};
thread_local SocketErrorKind t_last_error = SocketErrorKind::Other;

int Fd(SocketHandle s) { return static_cast<int>(s); }

void RecordError(int err) {
  if (err == ECONNRESET || err == EPIPE) {
    t_last_error = SocketErrorKind::ConnReset;
  } else if (err == EAGAIN || err == EWOULDBLOCK || err == ETIMEDOUT) {
    t_last_error = SocketErrorKind::TimedOut;
  } else {
    t_last_error = SocketErrorKind::Other;
  }
}

// Dotted-decimal text as the classic conversion reads it (trailing blanks
// allowed). A text that is no address gives the invalid address, which is
// never bound: it must never widen the listener to every interface.
in_addr_t ParseAddress(const std::string& text) {
  in_addr addr{};
  if (text.find('\0') == std::string::npos && ::inet_aton(text.c_str(), &addr) != 0) return addr.s_addr;
  return htonl(INADDR_NONE);
}
}  // namespace

// There is no library to start on POSIX; the count keeps the callers' start
// and end balanced all the same.
bool StartSocketLibrary() {
  ++g_library_uses;
  return true;
}
void EndSocketLibrary() { --g_library_uses; }
int SocketLibraryUses() { return g_library_uses.load(); }

SocketHandle CreateTcpSocket() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

bool BindIPv4(SocketHandle socket, const std::string& address, uint16_t port) {
  const int on = 1;
  ::setsockopt(Fd(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = ParseAddress(address);
  if (sa.sin_addr.s_addr == htonl(INADDR_NONE)) return false;
  return ::bind(Fd(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool Listen(SocketHandle socket, int backlog) { return ::listen(Fd(socket), backlog) == 0; }

uint16_t LocalPort(SocketHandle socket) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(Fd(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

int WaitReadable(SocketHandle socket, int timeout_ms) {
  pollfd p{Fd(socket), POLLIN, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      RecordError(errno);
      return -1;
    }
    if (r == 0) return 0;
    if (p.revents & (POLLERR | POLLNVAL)) return -1;
    return 1;
  }
}

SocketHandle Accept(SocketHandle socket) {
  for (;;) {
    const int fd = ::accept4(Fd(socket), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return static_cast<SocketHandle>(fd);
    if (errno == EINTR) continue;
    RecordError(errno);
    return kInvalidSocket;
  }
}

SocketHandle ConnectIPv4(const std::string& address, uint16_t port) {
  SocketOwner s(CreateTcpSocket());
  if (!s.valid()) return kInvalidSocket;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return kInvalidSocket;
  if (::connect(Fd(s.get()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    RecordError(errno);
    return kInvalidSocket;
  }
  const int on = 1;
  ::setsockopt(Fd(s.get()), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return s.release();
}

bool SetTimeouts(SocketHandle socket, int timeout_ms) {
  timeval tv{};
  tv.tv_sec = timeout_ms / 1000;
  tv.tv_usec = (timeout_ms % 1000) * 1000;
  return ::setsockopt(Fd(socket), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
         ::setsockopt(Fd(socket), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

int64_t Send(SocketHandle socket, const void* bytes, std::size_t count) {
  for (;;) {
    const ssize_t n = ::send(Fd(socket), bytes, count, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RecordError(errno);
    return n;
  }
}

int64_t Receive(SocketHandle socket, void* buffer, std::size_t count) {
  for (;;) {
    const ssize_t n = ::recv(Fd(socket), buffer, count, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RecordError(errno);
    return n;
  }
}

SocketErrorKind LastSocketError() { return t_last_error; }

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::close(Fd(socket));
}

}  // namespace vtsd::platform
