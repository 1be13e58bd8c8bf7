// Request payloads built byte by byte, as the driver lays them out, for the
// simulator's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<uint8_t>;

class Payload {
 public:
  explicit Payload(const std::string& command) { Text(command); }
  // Text bytes and their closing zero byte.
  Payload& Text(const std::string& text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    bytes_.push_back(0);
    return *this;
  }
  Payload& Int(int32_t value) {
    const uint32_t v = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<uint8_t>(v >> shift));
    return *this;
  }
  Payload& Zero() {
    bytes_.push_back(0);
    return *this;
  }
  Payload& Raw(const Bytes& raw) {
    bytes_.insert(bytes_.end(), raw.begin(), raw.end());
    return *this;
  }
  Payload& Raw(const std::string& raw) {
    bytes_.insert(bytes_.end(), raw.begin(), raw.end());
    return *this;
  }
  // Drops the last n bytes (for truncated requests).
  Payload& Cut(size_t n) {
    bytes_.resize(bytes_.size() > n ? bytes_.size() - n : 0);
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }
  operator const Bytes&() const { return bytes_; }

 private:
  Bytes bytes_;
};

inline Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The request payloads of the command table.
inline Payload OpenFile(const std::string& path) { return Payload("OpenFile").Text(path); }
inline Payload CreateFile(const std::string& path) { return Payload("CreateFile").Text(path).Zero(); }
inline Payload ExistFile(const std::string& path) { return Payload("ExistFile").Text(path); }
inline Payload DeleteFile(const std::string& path) { return Payload("DeleteFile").Text(path); }
inline Payload GetHrpMaxBuffer() { return Payload("GetHrpMaxBuffer"); }
inline Payload WriteFile(int32_t handle, const Bytes& data) {
  return Payload("WriteFile").Int(handle).Int(static_cast<int32_t>(data.size())).Raw(data);
}
inline Payload LengthFile(int32_t handle) { return Payload("LengthFile").Int(handle).Zero(); }
inline Payload ReadFile(int32_t handle, int32_t count) { return Payload("ReadFile").Int(handle).Int(count); }
inline Payload CloseFile(int32_t handle) { return Payload("CloseFile").Int(handle); }
inline Payload GetFuture(const std::string& key) { return Payload("GetFuture").Text(key); }
inline Payload GetTerminalVersion() { return Payload("GetTerminalVersion"); }
inline Payload Disconnect() { return Payload("Disconnect"); }

}  // namespace simtest
