#include "tools/vtsd-host/json_values.hpp"

#include <cstdint>
#include <limits>

namespace vtsd::host {

Json ValueToJson(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Empty: return Json{{"vt", "empty"}};
    case Value::Kind::Bool: return Json{{"vt", "bool"}, {"v", value.bool_value()}};
    case Value::Kind::Int: return Json{{"vt", "i4"}, {"v", value.int_value()}};
    case Value::Kind::Double: return Json{{"vt", "r8"}, {"v", value.double_value()}};
    case Value::Kind::Text: return Json{{"vt", "bstr"}, {"v", value.text_value()}};
    case Value::Kind::Object: return Json{{"vt", "object"}};
  }
  return Json{{"vt", "empty"}};
}

namespace {

Value IntegerValue(const Json& json, const std::string& what) {
  if (json.is_number_unsigned()) {
    if (json.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
      throw ScriptError(what + ": integer out of the 32-bit range");
    return Value::Int(static_cast<int32_t>(json.get<uint64_t>()));
  }
  const int64_t n = json.get<int64_t>();
  if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())
    throw ScriptError(what + ": integer out of the 32-bit range");
  return Value::Int(static_cast<int32_t>(n));
}

Value TypedValue(const Json& json, const std::string& what) {
  const Json& vt = json.at("vt");
  if (!vt.is_string()) throw ScriptError(what + ": \"vt\" must be a string");
  const std::string type = vt.get<std::string>();
  if (type == "empty") return Value();
  if (type == "object") return Value::Object();
  if (!json.contains("v")) throw ScriptError(what + ": \"vt\": \"" + type + "\" needs \"v\"");
  const Json& v = json.at("v");
  if (type == "bool" && v.is_boolean()) return Value::Bool(v.get<bool>());
  if (type == "i4" && v.is_number_integer()) return IntegerValue(v, what);
  if (type == "r8" && v.is_number()) return Value::Double(v.get<double>());
  if (type == "bstr" && v.is_string()) return Value::Text(v.get<std::string>());
  throw ScriptError(what + ": no value of type \"" + type + "\" in " + v.dump());
}

}  // namespace

Value ValueFromJson(const Json& json, const Variables& vars, const std::string& what) {
  if (json.is_null()) return Value();
  if (json.is_boolean()) return Value::Bool(json.get<bool>());
  if (json.is_number_integer()) return IntegerValue(json, what);
  if (json.is_number_float()) return Value::Double(json.get<double>());
  if (json.is_string()) return Value::Text(json.get<std::string>());
  if (json.is_object()) {
    if (json.size() == 1 && json.contains("object")) {
      if (json.at("object") != true) throw ScriptError(what + ": \"object\" must be true");
      return Value::Object();
    }
    if (json.size() == 1 && json.contains("var")) {
      const Json& name = json.at("var");
      if (!name.is_string()) throw ScriptError(what + ": \"var\" must name a variable");
      auto it = vars.find(name.get<std::string>());
      if (it == vars.end())
        throw ScriptError(what + ": no saved variable \"" + name.get<std::string>() + "\"");
      return it->second;
    }
    if (json.contains("vt")) return TypedValue(json, what);
  }
  throw ScriptError(what + ": not a value: " + json.dump());
}

Json ActionToJson(const DialogAction& action) {
  Json j{{"press", PressText(action.press)}};
  if (action.has_choose) j["choose"] = action.choose;
  if (action.after_ms > 0) j["after_ms"] = action.after_ms;
  return j;
}

DialogAction ActionFromJson(const Json& json) {
  if (!json.is_object()) throw ScriptError("a dialog action must be an object: " + json.dump());
  DialogAction action;
  for (auto it = json.begin(); it != json.end(); ++it) {
    const std::string& key = it.key();
    const Json& v = it.value();
    if (key == "press") {
      if (!v.is_string() || !PressFromText(v.get<std::string>(), action.press))
        throw ScriptError("\"press\" must be one of ok, yes, no, cancel, close, none: " + v.dump());
    } else if (key == "choose") {
      if (!v.is_array()) throw ScriptError("\"choose\" must be a list of texts");
      for (const Json& item : v) {
        if (!item.is_string()) throw ScriptError("\"choose\" must be a list of texts");
        action.choose.push_back(item.get<std::string>());
      }
      action.has_choose = true;
    } else if (key == "after_ms") {
      if (!v.is_number_integer() || v.get<int64_t>() < 0 || v.get<int64_t>() > 3600000)
        throw ScriptError("\"after_ms\" must be a whole number of milliseconds, 0..3600000");
      action.after_ms = static_cast<int>(v.get<int64_t>());
    } else {
      throw ScriptError("unknown key \"" + key + "\" in a dialog action");
    }
  }
  if (!json.contains("press")) {
    // {"choose": [...]} alone means: select these lines and press OK.
    if (!action.has_choose) throw ScriptError("a dialog action needs \"press\"");
    action.press = DialogAction::Press::Ok;
  }
  if (action.has_choose && action.press != DialogAction::Press::Ok)
    throw ScriptError("\"choose\" goes with \"press\": \"ok\"");
  return action;
}

Json DialogToJson(const DialogEntry& entry) {
  Json j{{"kind", KindText(entry.kind)},
         {"caption", entry.caption},
         {"text", entry.text},
         {"buttons", entry.buttons}};
  if (entry.kind == DialogKind::Select) {
    j["items"] = entry.items;
    j["mode"] = entry.mode;
  }
  j["action"] = ActionToJson(entry.action);
  j["unanswered"] = entry.unanswered;
  return j;
}

}  // namespace vtsd::host
