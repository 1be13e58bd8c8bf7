// The reply decoder reading a connection whose bytes are the input: replies
// are read until the stream fails. The first input byte chooses whether a
// "ReadFile" is outstanding and for how many bytes, and (its top bit) whether
// a text is expected, so the data-reply and 3-byte text paths are reached as
// well as the number and text paths.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <exception>

#include "base/messages.hpp"
#include "link/framing.hpp"

namespace {

struct Pair {
  int fds[2] = {-1, -1};
  Pair() {
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    const int size = 1 << 20;
    ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  ~Pair() {
    if (fds[0] >= 0) ::close(fds[0]);
    if (fds[1] >= 0) ::close(fds[1]);
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vtsd::SetExchangeTimeLimitMs(200);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 60000) return 0;
  Pair pair;
  if (pair.fds[0] < 0) return 0;
  const uint8_t selector = data[0];
  std::size_t sent = 0;
  while (sent + 1 < size) {
    const ssize_t n = ::send(pair.fds[0], data + 1 + sent, size - 1 - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(pair.fds[0], SHUT_WR);

  const auto socket = static_cast<vtsd::SocketHandle>(pair.fds[1]);
  vtsd::PrepareDeviceSocket(socket);
  for (int i = 0; i < 64; ++i) {
    vtsd::ReplyExpectation expect;
    if (selector & 1) expect.data = (selector >> 1) * 37u;
    expect.text = (selector & 0x80) != 0;
    try {
      const std::string text = vtsd::ReceiveReply(socket, expect).text;
      try {
        vtsd::ReplyNumber(text);
      } catch (const std::exception&) {
      }
    } catch (const vtsd::DriverError& e) {
      // Every failure of the decoder is a coded message.
      if (vtsd::CodeOfMark(e.text()) < 0) __builtin_trap();
      break;
    }
  }
  return 0;
}
