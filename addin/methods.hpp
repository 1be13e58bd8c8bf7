// The fourteen driver methods, one row each: the names the host finds them
// by, the parameter count GetNParams reports and the handler CallAsFunc runs.
// Every host adapter is given this one table.
#pragma once

#include <string>

#include "addin/names.hpp"
#include "base/params.hpp"

namespace vtsd {

struct MethodRow {
  const char* en;
  const char* ru;
  int params;
  void (*handler)(MethodCall& call);
};

// In the order of the Method numbers.
extern const MethodRow kMethods[kMethodCount];

// Exact, case-sensitive lookup over the rows in number order, English name
// first, then Russian. Returns -1 when no row matches.
int FindMethodByName(const std::string& name);

}  // namespace vtsd
