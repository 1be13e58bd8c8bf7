// The coded text a call raised, for comparing with the expected message.
#pragma once

#include <string>

#include "addin/messages.hpp"

namespace vtsd::testing {

template <typename Fn>
std::string FailureOf(Fn fn) {
  try {
    fn();
  } catch (const DriverError& e) {
    return e.text();
  }
  return "(no failure)";
}

}  // namespace vtsd::testing
