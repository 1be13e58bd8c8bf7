// The coded text a call raised, for comparing with the expected message.
#pragma once

#include <string>

#include "base/messages.hpp"

namespace vtsd::test {

// The text of the DriverError that `f` raises, or a note that it raised none.
template <class F>
std::string RaisedText(F&& f) {
  try {
    f();
  } catch (const DriverError& e) {
    return e.text();
  }
  return "<nothing raised>";
}

}  // namespace vtsd::test
