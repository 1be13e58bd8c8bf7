// How the harness writes host values and dialogs as JSON, and reads the
// values and dialog actions a script gives.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/value.hpp"
#include "tools/vtsd-host/dialog_script.hpp"

namespace vtsd::host {

using Json = nlohmann::ordered_json;

// A line of input the harness cannot carry out; its text is the reason.
class ScriptError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Variables = std::map<std::string, Value>;

// {"vt": "empty"}, {"vt": "bool", "v": true}, {"vt": "i4", "v": 1},
// {"vt": "r8", "v": 1.5}, {"vt": "bstr", "v": "text"}, {"vt": "object"}.
Json ValueToJson(const Value& value);

// null = empty, true/false = Boolean, an integer = 32-bit integer, any other
// number = double, a string = text, {"object": true} = a value without text
// form, {"var": "NAME"} = a saved value; the output form {"vt": ...} is read
// back too. `what` names the field in the error text.
Value ValueFromJson(const Json& json, const Variables& vars, const std::string& what);

Json DialogToJson(const DialogEntry& entry);
Json ActionToJson(const DialogAction& action);
DialogAction ActionFromJson(const Json& json);

}  // namespace vtsd::host
