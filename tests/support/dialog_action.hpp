// A harness dialog action in one line: what to press, the lines to choose
// first and how long to wait before acting.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/vtsd-host/dialog_script.hpp"

namespace vtsd::test {

inline host::DialogAction Act(host::DialogAction::Press press, std::vector<std::string> choose = {},
                              int after_ms = 0) {
  host::DialogAction a;
  a.press = press;
  a.choose = std::move(choose);
  a.has_choose = !a.choose.empty();
  a.after_ms = after_ms;
  return a;
}

}  // namespace vtsd::test
