#include "tools/vtsd-host/session.hpp"

#include <algorithm>
#include <cstdint>
#include <istream>
#include <limits>
#include <ostream>
#include <set>

namespace vtsd::host {

namespace {

struct OpKeys {
  const char* op;
  std::set<std::string> keys;  // besides "op"
};

const OpKeys kOps[] = {
    {"Init", {}},
    {"Done", {}},
    {"GetInfo", {}},
    {"RegisterExtensionAs", {}},
    {"SetLocale", {"locale"}},
    {"GetNProps", {}},
    {"FindProp", {"name"}},
    {"GetPropName", {"num", "alias"}},
    {"IsPropReadable", {"num"}},
    {"IsPropWritable", {"num"}},
    {"GetNMethods", {}},
    {"FindMethod", {"name"}},
    {"GetMethodName", {"num", "alias"}},
    {"GetNParams", {"num"}},
    {"GetParamDefValue", {"num", "param"}},
    {"HasRetVal", {"num"}},
    {"GetPropVal", {"num"}},
    {"SetPropVal", {"num", "value"}},
    {"CallAsProc", {"num", "params"}},
    {"CallAsFunc", {"method", "params", "save"}},
    {"Answer", {"with", "replace"}},
};

const OpKeys* FindOp(const std::string& op) {
  for (const OpKeys& o : kOps)
    if (op == o.op) return &o;
  return nullptr;
}

const Json& Required(const Json& request, const char* key) {
  auto it = request.find(key);
  if (it == request.end()) throw ScriptError(std::string("missing \"") + key + "\"");
  return *it;
}

long Integer(const Json& request, const char* key) {
  const Json& v = Required(request, key);
  if (!v.is_number_integer())
    throw ScriptError(std::string("\"") + key + "\" must be an integer");
  if (v.is_number_unsigned()
          ? v.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
          : (v.get<int64_t>() < std::numeric_limits<int32_t>::min() ||
             v.get<int64_t>() > std::numeric_limits<int32_t>::max()))
    throw ScriptError(std::string("\"") + key + "\" is out of the 32-bit range");
  return static_cast<long>(v.get<int64_t>());
}

std::string Text(const Json& request, const char* key) {
  const Json& v = Required(request, key);
  if (!v.is_string()) throw ScriptError(std::string("\"") + key + "\" must be a string");
  return v.get<std::string>();
}

// A text parameter this long that the call left as it was given is not
// written back: the answer says so and gives its length (an article table
// of a hundred thousand records is megabytes).
constexpr size_t kLongestEcho = 64 * 1024;

bool IsLongText(const Value& v) { return v.kind() == Value::Kind::Text && v.text_value().size() > kLongestEcho; }

// The parameters after the call; `given` holds the long texts as they went in.
Json ParamsToJson(const Values& params, const Values& given = {}) {
  Json out = Json::array();
  for (size_t i = 0; i < params.size(); ++i) {
    const Value& v = params[i];
    if (i < given.size() && IsLongText(v) && v == given[i]) {
      out.push_back(Json{{"vt", "bstr"}, {"unchanged", true}, {"length", v.text_value().size()}});
      continue;
    }
    out.push_back(ValueToJson(v));
  }
  return out;
}

Values LongTextsOf(const Values& params) {
  Values kept(params.size());
  for (size_t i = 0; i < params.size(); ++i) {
    if (IsLongText(params[i])) kept[i] = params[i];
  }
  return kept;
}

std::string Dump(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

long Session::MethodNumber(const Json& request) {
  const Json& m = Required(request, "method");
  if (m.is_string()) {
    long number = -1;
    backend_.FindMethod(m.get<std::string>(), number);
    return number;
  }
  if (m.is_number_integer()) return Integer(request, "method");
  throw ScriptError("\"method\" must be a method number or name");
}

Values Session::ParamsFor(long method, const Json& request) {
  std::vector<Value> given;
  auto it = request.find("params");
  if (it != request.end()) {
    if (!it->is_array()) throw ScriptError("\"params\" must be a list of values");
    for (size_t i = 0; i < it->size(); ++i)
      given.push_back(ValueFromJson((*it)[i], vars_, "params[" + std::to_string(i) + "]"));
  }
  long count = 0;
  backend_.GetNParams(method, count);
  Values params(std::max<size_t>(given.size(), count > 0 ? static_cast<size_t>(count) : 0));
  std::copy(given.begin(), given.end(), params.begin());
  return params;
}

void Session::Save(const Json& request, const Value& ret, const Values& params) {
  auto it = request.find("save");
  if (it == request.end()) return;
  for (auto s = it->begin(); s != it->end(); ++s) {
    const std::string name = s.value().get<std::string>();
    if (s.key() == "ret") {
      vars_[name] = ret;
    } else {
      vars_[name] = params[std::stoul(s.key())];
    }
  }
}

Json Session::Carry(const Json& request) {
  if (!request.is_object()) throw ScriptError("an input line must be a JSON object");
  auto op_it = request.find("op");
  if (op_it == request.end()) throw ScriptError("missing \"op\"");
  if (!op_it->is_string()) throw ScriptError("\"op\" must be a string");
  const std::string op = op_it->get<std::string>();
  const OpKeys* known = FindOp(op);
  if (!known) throw ScriptError("unknown op \"" + op + "\"");
  for (auto it = request.begin(); it != request.end(); ++it) {
    if (it.key() != "op" && !known->keys.count(it.key()))
      throw ScriptError("unknown key \"" + it.key() + "\" for " + op);
  }

  Json out{{"op", op}};
  out["hr"] = 0;
  long hr = 0;
  if (op == "Init") {
    hr = backend_.Init();
  } else if (op == "Done") {
    hr = backend_.Done();
  } else if (op == "GetInfo") {
    Values info(1);
    hr = backend_.GetInfo(info);
    out["value"] = ValueToJson(info[0]);
  } else if (op == "RegisterExtensionAs") {
    std::string name;
    hr = backend_.RegisterExtensionAs(name);
    out["name"] = name;
  } else if (op == "SetLocale") {
    hr = backend_.SetLocale(Text(request, "locale"));
  } else if (op == "GetNProps" || op == "GetNMethods") {
    long count = 0;
    hr = op == "GetNProps" ? backend_.GetNProps(count) : backend_.GetNMethods(count);
    out["count"] = count;
  } else if (op == "FindProp" || op == "FindMethod") {
    const std::string name = Text(request, "name");
    long num = -1;
    hr = op == "FindProp" ? backend_.FindProp(name, num) : backend_.FindMethod(name, num);
    out["num"] = num;
  } else if (op == "GetPropName" || op == "GetMethodName") {
    const long num = Integer(request, "num");
    const long alias = Integer(request, "alias");
    std::string name;
    hr = op == "GetPropName" ? backend_.GetPropName(num, alias, name)
                             : backend_.GetMethodName(num, alias, name);
    out["name"] = name;
  } else if (op == "IsPropReadable" || op == "IsPropWritable") {
    const long num = Integer(request, "num");
    bool flag = false;
    hr = op == "IsPropReadable" ? backend_.IsPropReadable(num, flag)
                                : backend_.IsPropWritable(num, flag);
    // The component writes the flag only for a property it has.
    if (hr == 0) out["flag"] = flag;
  } else if (op == "GetNParams") {
    long count = 0;
    hr = backend_.GetNParams(Integer(request, "num"), count);
    out["count"] = count;
  } else if (op == "GetParamDefValue") {
    const long num = Integer(request, "num");
    const long param = Integer(request, "param");
    Value value = Value::Text("unset");  // the component must empty it
    hr = backend_.GetParamDefValue(num, param, value);
    out["value"] = ValueToJson(value);
  } else if (op == "HasRetVal") {
    bool flag = false;
    hr = backend_.HasRetVal(Integer(request, "num"), flag);
    out["flag"] = flag;
  } else if (op == "GetPropVal") {
    Value value;
    hr = backend_.GetPropVal(Integer(request, "num"), value);
    out["value"] = ValueToJson(value);
  } else if (op == "SetPropVal") {
    const long num = Integer(request, "num");
    const Value value = ValueFromJson(Required(request, "value"), vars_, "value");
    hr = backend_.SetPropVal(num, value);
  } else if (op == "CallAsProc") {
    const long num = Integer(request, "num");
    Values params = ParamsFor(num, request);
    hr = backend_.CallAsProc(num, params);
    out["params"] = ParamsToJson(params);
  } else if (op == "CallAsFunc") {
    const long method = MethodNumber(request);
    auto save = request.find("save");
    if (save != request.end()) {
      if (!save->is_object()) throw ScriptError("\"save\" must map an out-parameter index to a name");
      for (auto s = save->begin(); s != save->end(); ++s) {
        if (!s.value().is_string() || s.value().get<std::string>().empty())
          throw ScriptError("\"save\": \"" + s.key() + "\" must map to a variable name");
        const std::string& k = s.key();
        if (k != "ret" && (k.empty() || k.size() > 4 ||
                           !std::all_of(k.begin(), k.end(), [](char c) { return c >= '0' && c <= '9'; })))
          throw ScriptError("\"save\": \"" + k + "\" is not a parameter index or \"ret\"");
      }
    }
    Values params = ParamsFor(method, request);
    if (save != request.end()) {
      for (auto s = save->begin(); s != save->end(); ++s)
        if (s.key() != "ret" && std::stoul(s.key()) >= params.size())
          throw ScriptError("\"save\": the method has no parameter " + s.key());
    }
    const Values given = LongTextsOf(params);
    Value ret;
    hr = backend_.CallAsFunc(method, ret, params);
    out["ret"] = ValueToJson(ret);
    out["params"] = ParamsToJson(params, given);
    Save(request, ret, params);
  } else if (op == "Answer") {
    const Json& with = Required(request, "with");
    if (!with.is_array()) throw ScriptError("\"with\" must be a list of dialog actions");
    std::vector<DialogAction> actions;
    for (const Json& a : with) actions.push_back(ActionFromJson(a));
    auto replace = request.find("replace");
    if (replace != request.end() && !replace->is_boolean()) throw ScriptError("\"replace\" must be true or false");
    // Actions an earlier call left unused (its dialog never came) are
    // dropped first when asked.
    if (replace != request.end() && replace->get<bool>()) dialogs_.Clear();
    dialogs_.Queue(actions);
    out["queued"] = dialogs_.Pending();
  }
  out["hr"] = hr;
  return out;
}

std::optional<std::string> Session::HandleLine(const std::string& line) {
  if (std::all_of(line.begin(), line.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
      }))
    return std::nullopt;
  Json request;
  try {
    request = Json::parse(line);
  } catch (const Json::parse_error& e) {
    return Dump(Json{{"error", std::string("not a JSON line: ") + e.what()}});
  }
  Json out;
  try {
    out = Carry(request);
  } catch (const ScriptError& e) {
    out = Json{{"error", e.what()}};
    if (request.is_object() && request.contains("op")) out["op"] = request["op"];
  } catch (const BackendError& e) {
    out = Json{{"error", std::string("backend: ") + e.what()}};
    if (request.is_object() && request.contains("op")) out["op"] = request["op"];
  }
  // Dialogs are listed with the line during which they waited, also when
  // the line itself failed.
  const std::vector<DialogEntry> dialogs = dialogs_.TakeRecorded();
  if (!dialogs.empty()) {
    Json list = Json::array();
    for (const DialogEntry& d : dialogs) list.push_back(DialogToJson(d));
    out["dialogs"] = list;
  }
  return Dump(out);
}

void Session::Run(std::istream& in, std::ostream& out) {
  std::string line;
  line.reserve(1 << 16);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (auto answer = HandleLine(line)) out << *answer << '\n' << std::flush;
  }
}

}  // namespace vtsd::host
