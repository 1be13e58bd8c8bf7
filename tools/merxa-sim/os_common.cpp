// The parts of the OS layer that are the same on every system.
#include <chrono>

#include "os.hpp"

namespace merxa::os {

Connection::~Connection() { Close(); }

Connection::Connection(Connection&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace merxa::os
