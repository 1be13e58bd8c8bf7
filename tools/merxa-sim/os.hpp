// The few operating-system services the simulator needs: one TCP client
// socket, a sleep, the Windows-1251 decoding of request texts and the
// program's arguments as UTF-8. os_posix.cpp and os_win32.cpp implement them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace merxa::os {

// Starts and ends the sockets library for the lifetime of the object.
class NetworkScope {
 public:
  NetworkScope();
  ~NetworkScope();
  NetworkScope(const NetworkScope&) = delete;
  NetworkScope& operator=(const NetworkScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

enum class IoResult { Ok, Closed, Error, TimedOut };

// A connected TCP client socket; the destructor closes it.
class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(Connection&& other) noexcept;
  Connection& operator=(Connection&& other) noexcept;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // One connection attempt to an IPv4 address in dotted notation. On failure
  // `error` says why.
  static Connection Connect(const std::string& address, int port, std::string& error);

  bool valid() const;
  // Sends every byte.
  IoResult SendAll(const uint8_t* data, size_t count);
  // Fills exactly `count` bytes. With timeout_ms > 0 a pause longer than that
  // between two pieces gives TimedOut.
  IoResult ReceiveAll(uint8_t* data, size_t count, int timeout_ms);
  // Reads and drops whatever arrives until the peer closes the connection or,
  // with timeout_ms > 0, nothing arrives for that long.
  void DrainUntilClosed(int timeout_ms);
  void Close();

 private:
  intptr_t handle_ = -1;
};

void SleepMs(int ms);
// Milliseconds from an arbitrary fixed point.
int64_t NowMs();

// Decodes Windows-1251 bytes to UTF-8.
std::string Cp1251ToUtf8(const std::string& bytes);

// The program's arguments as UTF-8 texts.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace merxa::os
