// A loopback port that nothing listens on at the moment of asking.
#pragma once

#include <cstdint>

#include "platform/socket.hpp"

namespace vtsd::test {

inline uint16_t FreePort() {
  platform::SocketOwner probe(platform::CreateTcpSocket());
  if (!platform::BindIPv4(probe.get(), "127.0.0.1", 0)) return 0;
  return platform::LocalPort(probe.get());
}

}  // namespace vtsd::test
