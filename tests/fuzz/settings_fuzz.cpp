// SetParameter and SetPropVal with arbitrary values: the input is split into
// a property or parameter name choice, a value kind and the value's bytes
// (texts may hold NUL bytes and invalid UTF-8). A rejected value ends in a
// coded message; the settings stay valid either way.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "addin/component.hpp"
#include "addin/dispatch.hpp"
#include "base/messages.hpp"
#include "addin/names.hpp"
#include "base/settings.hpp"

namespace {

class Params : public vtsd::ParamArray {
 public:
  explicit Params(std::vector<vtsd::Value> v) : values(std::move(v)) {}
  vtsd::Value Read(int i) const override {
    return i >= 0 && static_cast<std::size_t>(i) < values.size() ? values[i] : vtsd::Value();
  }
  void Write(int i, const vtsd::Value& v) override {
    if (i >= 0 && static_cast<std::size_t>(i) < values.size()) values[i] = v;
  }
  std::vector<vtsd::Value> values;
};

vtsd::Value MakeValue(uint8_t kind, const std::string& bytes) {
  int32_t number = 0;
  double real = 0;
  std::memcpy(&number, bytes.data(), std::min<std::size_t>(bytes.size(), sizeof number));
  std::memcpy(&real, bytes.data(), std::min<std::size_t>(bytes.size(), sizeof real));
  switch (kind % 6) {
    case 0: return vtsd::Value();
    case 1: return vtsd::Value::Bool(number & 1);
    case 2: return vtsd::Value::Int(number);
    case 3: return vtsd::Value::Double(real);
    case 4: return vtsd::Value::Object();
    default: return vtsd::Value::Text(bytes);
  }
}

const char* const kNames[] = {"propIpAdress", "propPortNumber", "propTimeOut", "propChooseDownloadSource"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t choice = data[0];
  const uint8_t kind = data[1];
  const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  const vtsd::Value value = MakeValue(kind, bytes);

  if (choice & 0x80) {
    vtsd::Component component;
    component.SetPropVal(choice & 7, value);
    vtsd::Value back;
    component.GetPropVal(choice & 7, back);
  } else {
    // A name of the table, or the input's own bytes as the name.
    const vtsd::Value name = (choice & 0x40) ? MakeValue(kind >> 3, bytes)
                                             : vtsd::Value::Text(kNames[choice & 3]);
    Params params({name, value});
    vtsd::Value ret = vtsd::Value::Int(-1);
    vtsd::SetReportedErrorText(" ");
    vtsd::CallDriverMethod(vtsd::kSetParameter, ret, params);
    if (!(ret == vtsd::Value::Int(1))) {
      const std::string& error = vtsd::GetReportedErrorText();
      if (error.size() < 2 || vtsd::CodeOfMark(error) < 0) __builtin_trap();
    }
  }
  // Whatever was accepted is a valid setting.
  const vtsd::ConnectionSettingsRecord& s = vtsd::ConnectionSettings();
  if (s.TimeOut < -1) __builtin_trap();
  if (!s.IpAddress.empty()) {
    try {
      vtsd::ValidateIpAddress(s.IpAddress);
    } catch (...) {
      __builtin_trap();
    }
  }
  vtsd::ConnectionSettings() = vtsd::ConnectionSettingsRecord{};
  return 0;
}
