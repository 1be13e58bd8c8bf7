// The simulator's request parser on any payload: a request either parses
// with its fields inside the payload or carries an error.
#include <cstddef>
#include <cstdint>

#include "protocol.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const merxa::Request r = merxa::ParseRequest(data, size);
  if (r.error.empty() && r.data != nullptr) {
    // WriteFile data lies wholly inside the payload.
    if (r.count < 0 || r.data < data || r.data + r.count > data + size) __builtin_trap();
  }
  if (r.size != size) __builtin_trap();
  return 0;
}
