#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>

#include "os.hpp"

namespace merxa::os {
namespace {

SOCKET AsSocket(intptr_t handle) { return static_cast<SOCKET>(handle); }

std::string WideToUtf8(const wchar_t* text, int length) {
  if (length == 0) return {};
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? bytes : 0, '\0');
  if (bytes > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace

NetworkScope::NetworkScope() {
  WSADATA data;
  ok_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

NetworkScope::~NetworkScope() {
  if (ok_) ::WSACleanup();
}

Connection Connection::Connect(const std::string& address, int port, std::string& error) {
  Connection c;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<u_short>(port));
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    error = "not an IPv4 address: " + address;
    return c;
  }
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    error = "socket error " + std::to_string(::WSAGetLastError());
    return c;
  }
  if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    error = "connect error " + std::to_string(::WSAGetLastError());
    ::closesocket(s);
    return c;
  }
  const BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  c.handle_ = static_cast<intptr_t>(s);
  return c;
}

bool Connection::valid() const { return handle_ != -1; }

IoResult Connection::SendAll(const uint8_t* data, size_t count) {
  while (count > 0) {
    const int piece = count > 0x40000000 ? 0x40000000 : static_cast<int>(count);
    const int n = ::send(AsSocket(handle_), reinterpret_cast<const char*>(data), piece, 0);
    if (n <= 0) return ::WSAGetLastError() == WSAECONNRESET ? IoResult::Closed : IoResult::Error;
    data += n;
    count -= static_cast<size_t>(n);
  }
  return IoResult::Ok;
}

IoResult Connection::ReceiveAll(uint8_t* data, size_t count, int timeout_ms) {
  while (count > 0) {
    if (timeout_ms > 0) {
      WSAPOLLFD p{AsSocket(handle_), POLLRDNORM, 0};
      const int ready = ::WSAPoll(&p, 1, timeout_ms);
      if (ready == 0) return IoResult::TimedOut;
      if (ready < 0) return IoResult::Error;
    }
    const int piece = count > 0x40000000 ? 0x40000000 : static_cast<int>(count);
    const int n = ::recv(AsSocket(handle_), reinterpret_cast<char*>(data), piece, 0);
    if (n == 0) return IoResult::Closed;
    if (n < 0) return ::WSAGetLastError() == WSAECONNRESET ? IoResult::Closed : IoResult::Error;
    data += n;
    count -= static_cast<size_t>(n);
  }
  return IoResult::Ok;
}

void Connection::DrainUntilClosed(int timeout_ms) {
  char sink[4096];
  for (;;) {
    if (timeout_ms > 0) {
      WSAPOLLFD p{AsSocket(handle_), POLLRDNORM, 0};
      if (::WSAPoll(&p, 1, timeout_ms) <= 0) return;
    }
    if (::recv(AsSocket(handle_), sink, sizeof sink, 0) <= 0) return;
  }
}

void Connection::Close() {
  if (handle_ != -1) {
    ::closesocket(AsSocket(handle_));
    handle_ = -1;
  }
}

void SleepMs(int ms) { ::Sleep(static_cast<DWORD>(ms)); }

std::string Cp1251ToUtf8(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  const int chars = ::MultiByteToWideChar(1251, 0, bytes.data(), length, nullptr, 0);
  if (chars <= 0) return bytes;
  std::wstring wide(chars, L'\0');
  ::MultiByteToWideChar(1251, 0, bytes.data(), length, wide.data(), chars);
  return WideToUtf8(wide.data(), chars);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(WideToUtf8(wide[i], static_cast<int>(::wcslen(wide[i]))));
  ::LocalFree(wide);
  return out;
}

}  // namespace merxa::os
