// The harness's line protocol: one JSON object in, one JSON object out, each
// input line carried to the backend as the 1C host would make that call.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "tools/vtsd-host/backend.hpp"
#include "tools/vtsd-host/json_values.hpp"

namespace vtsd::host {

class Session {
 public:
  Session(Backend& backend, DialogScript& dialogs) : backend_(backend), dialogs_(dialogs) {}

  // The output line (without its line end) for one input line; nothing for a
  // blank line. A line that cannot be carried out gets {"error": reason}.
  std::optional<std::string> HandleLine(const std::string& line);

  // Reads lines until the end of `in`, writing and flushing each answer.
  void Run(std::istream& in, std::ostream& out);

 private:
  Json Carry(const Json& request);
  long MethodNumber(const Json& request);
  Values ParamsFor(long method, const Json& request);
  void Save(const Json& request, const Value& ret, const Values& params);

  Backend& backend_;
  DialogScript& dialogs_;
  Variables vars_;
};

}  // namespace vtsd::host
