#ifndef _WINSOCK_DEPRECATED_NO_WARNINGS
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <string>

#include "platform/socket.hpp"

namespace vtsd::platform {

namespace {
std::atomic<int> g_library_uses{0};
thread_local SocketErrorKind t_last_error = SocketErrorKind::Other;

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

void RecordError(int err) {
  if (err == WSAECONNRESET || err == WSAECONNABORTED) {
    t_last_error = SocketErrorKind::ConnReset;
  } else if (err == WSAETIMEDOUT) {
    t_last_error = SocketErrorKind::TimedOut;
  } else {
    t_last_error = SocketErrorKind::Other;
  }
}

// Dotted-decimal text as the classic conversion reads it. A text that is no
// address gives the invalid address, which is never bound: it must never
// widen the listener to every interface.
unsigned long ParseAddress(const std::string& text) {
  if (text.find('\0') != std::string::npos) return INADDR_NONE;
  return ::inet_addr(text.c_str());
}
}  // namespace

bool StartSocketLibrary() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  ++g_library_uses;
  return true;
}

void EndSocketLibrary() {
  --g_library_uses;
  ::WSACleanup();
}

int SocketLibraryUses() { return g_library_uses.load(); }

SocketHandle CreateTcpSocket() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

// No address-reuse option: on Windows it would let another program take the
// port over.
bool BindIPv4(SocketHandle socket, const std::string& address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = ParseAddress(address);
  if (sa.sin_addr.s_addr == htonl(INADDR_NONE)) return false;
  return ::bind(Sock(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool Listen(SocketHandle socket, int backlog) { return ::listen(Sock(socket), backlog) == 0; }

uint16_t LocalPort(SocketHandle socket) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(Sock(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

int WaitReadable(SocketHandle socket, int timeout_ms) {
  WSAPOLLFD p{};
  p.fd = Sock(socket);
  p.events = POLLRDNORM;
  const int r = ::WSAPoll(&p, 1, timeout_ms);
  if (r < 0) {
    RecordError(::WSAGetLastError());
    return -1;
  }
  if (r == 0) return 0;
  if (p.revents & (POLLERR | POLLNVAL)) return -1;
  return 1;
}

SocketHandle Accept(SocketHandle socket) {
  const SOCKET s = ::accept(Sock(socket), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    RecordError(::WSAGetLastError());
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
}

SocketHandle ConnectIPv4(const std::string& address, uint16_t port) {
  SocketOwner s(CreateTcpSocket());
  if (!s.valid()) return kInvalidSocket;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return kInvalidSocket;
  if (::connect(Sock(s.get()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    RecordError(::WSAGetLastError());
    return kInvalidSocket;
  }
  const BOOL on = TRUE;
  ::setsockopt(Sock(s.get()), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
               sizeof on);
  return s.release();
}

bool SetTimeouts(SocketHandle socket, int timeout_ms) {
  const DWORD ms = static_cast<DWORD>(timeout_ms);
  return ::setsockopt(Sock(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
                      sizeof ms) == 0 &&
         ::setsockopt(Sock(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms),
                      sizeof ms) == 0;
}

int64_t Send(SocketHandle socket, const void* bytes, std::size_t count) {
  const int chunk = count > 0x40000000u ? 0x40000000 : static_cast<int>(count);
  const int n = ::send(Sock(socket), static_cast<const char*>(bytes), chunk, 0);
  if (n == SOCKET_ERROR) {
    RecordError(::WSAGetLastError());
    return -1;
  }
  return n;
}

int64_t Receive(SocketHandle socket, void* buffer, std::size_t count) {
  const int chunk = count > 0x40000000u ? 0x40000000 : static_cast<int>(count);
  const int n = ::recv(Sock(socket), static_cast<char*>(buffer), chunk, 0);
  if (n == SOCKET_ERROR) {
    RecordError(::WSAGetLastError());
    return -1;
  }
  return n;
}

SocketErrorKind LastSocketError() { return t_last_error; }

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) ::closesocket(Sock(socket));
}

}  // namespace vtsd::platform
