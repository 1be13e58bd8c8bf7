// A connected pair of loopback TCP sockets: `driver` plays the driver's side,
// `peer` the terminal's. Both close with the pair.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/framing.hpp"
#include "platform/socket.hpp"

namespace vtsd::testing {

struct SocketPair {
  platform::SocketOwner driver;
  platform::SocketOwner peer;

  SocketPair() {
    platform::SocketOwner listener(platform::CreateTcpSocket());
    if (!platform::BindIPv4(listener.get(), "127.0.0.1", 0) || !platform::Listen(listener.get(), 1))
      return;
    peer.reset(platform::ConnectIPv4("127.0.0.1", platform::LocalPort(listener.get())));
    driver.reset(platform::Accept(listener.get()));
  }
  bool ok() const { return driver.valid() && peer.valid(); }

  void PeerSend(const std::vector<uint8_t>& bytes) {
    SendAll(peer.get(), bytes.data(), bytes.size());
  }
  std::vector<uint8_t> PeerReceive(std::size_t count) {
    std::vector<uint8_t> b(count);
    ReceiveAll(peer.get(), b.data(), count);
    return b;
  }
  // One frame as the terminal reads it: its payload.
  std::vector<uint8_t> PeerReceiveFrame() {
    const int32_t n = ReceiveInt32(peer.get());
    return PeerReceive(static_cast<std::size_t>(n));
  }
};

// Reply frames as a terminal writes them.
inline std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> f(4);
  PutInt32(f.data(), static_cast<int32_t>(payload.size()));
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}
inline std::vector<uint8_t> Int32Bytes(int32_t v) {
  std::vector<uint8_t> b(4);
  PutInt32(b.data(), v);
  return b;
}
inline std::vector<uint8_t> NumberReply(int32_t v) { return Frame(Int32Bytes(v)); }
inline std::vector<uint8_t> StatusReply(int32_t status, int32_t value) {
  std::vector<uint8_t> p = Int32Bytes(status);
  const std::vector<uint8_t> v = Int32Bytes(value);
  p.insert(p.end(), v.begin(), v.end());
  return Frame(p);
}
inline std::vector<uint8_t> TextReply(const std::string& utf8) {
  std::vector<uint8_t> p = {0, 0, 0, 1};
  p.insert(p.end(), utf8.begin(), utf8.end());
  p.push_back(0);
  return Frame(p);
}
inline std::vector<uint8_t> DataReply(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> p = Int32Bytes(1);
  const std::vector<uint8_t> n = Int32Bytes(static_cast<int32_t>(data.size()));
  p.insert(p.end(), n.begin(), n.end());
  p.insert(p.end(), data.begin(), data.end());
  return Frame(p);
}
inline std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace vtsd::testing
