#include <arpa/inet.h>
#include <iconv.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "os.hpp"

namespace merxa::os {

NetworkScope::NetworkScope() : ok_(true) {}
NetworkScope::~NetworkScope() = default;

Connection Connection::Connect(const std::string& address, int port, std::string& error) {
  Connection c;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    error = "not an IPv4 address: " + address;
    return c;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd < 0) {
    error = std::strerror(errno);
    return c;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    error = std::strerror(errno);
    ::close(fd);
    return c;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  c.handle_ = fd;
  return c;
}

bool Connection::valid() const { return handle_ >= 0; }

IoResult Connection::SendAll(const uint8_t* data, size_t count) {
  while (count > 0) {
    const ssize_t n = ::send(static_cast<int>(handle_), data, count, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return (errno == EPIPE || errno == ECONNRESET) ? IoResult::Closed : IoResult::Error;
    data += n;
    count -= static_cast<size_t>(n);
  }
  return IoResult::Ok;
}

IoResult Connection::ReceiveAll(uint8_t* data, size_t count, int timeout_ms) {
  while (count > 0) {
    if (timeout_ms > 0) {
      pollfd p{static_cast<int>(handle_), POLLIN, 0};
      const int ready = ::poll(&p, 1, timeout_ms);
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) return IoResult::TimedOut;
      if (ready < 0) return IoResult::Error;
    }
    const ssize_t n = ::recv(static_cast<int>(handle_), data, count, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) return IoResult::Closed;
    if (n < 0) return errno == ECONNRESET ? IoResult::Closed : IoResult::Error;
    data += n;
    count -= static_cast<size_t>(n);
  }
  return IoResult::Ok;
}

void Connection::DrainUntilClosed(int timeout_ms) {
  uint8_t sink[4096];
  for (;;) {
    if (timeout_ms > 0) {
      pollfd p{static_cast<int>(handle_), POLLIN, 0};
      const int ready = ::poll(&p, 1, timeout_ms);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return;
    }
    const ssize_t n = ::recv(static_cast<int>(handle_), sink, sizeof sink, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
  }
}

void Connection::Close() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string Cp1251ToUtf8(const std::string& bytes) {
  iconv_t cd = ::iconv_open("UTF-8", "CP1251");
  if (cd == reinterpret_cast<iconv_t>(-1)) return bytes;
  // Every Windows-1251 byte becomes at most three UTF-8 bytes.
  std::string out(bytes.size() * 3, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char* dst = out.data();
  size_t out_left = out.size();
  while (in_left > 0) {
    if (::iconv(cd, &in, &in_left, &dst, &out_left) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) break;
    // 0x98 has no character in Windows-1251: keep a replacement mark.
    if (out_left < 3) break;
    std::memcpy(dst, "\xEF\xBF\xBD", 3);
    dst += 3;
    out_left -= 3;
    ++in;
    --in_left;
  }
  ::iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

}  // namespace merxa::os
