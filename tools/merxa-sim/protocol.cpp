#include "protocol.hpp"

#include <cstring>

namespace merxa {
namespace {

struct CommandEntry {
  Command command;
  const char* name;
};

constexpr CommandEntry kCommands[] = {
    {Command::OpenFile, "OpenFile"},
    {Command::CreateFile, "CreateFile"},
    {Command::ExistFile, "ExistFile"},
    {Command::DeleteFile, "DeleteFile"},
    {Command::GetHrpMaxBuffer, "GetHrpMaxBuffer"},
    {Command::WriteFile, "WriteFile"},
    {Command::LengthFile, "LengthFile"},
    {Command::ReadFile, "ReadFile"},
    {Command::CloseFile, "CloseFile"},
    {Command::GetFuture, "GetFuture"},
    {Command::GetTerminalVersion, "GetTerminalVersion"},
    {Command::Disconnect, "Disconnect"},
};

// The longest name kept from a payload whose name has no closing zero byte.
constexpr size_t kMaxLoggedName = 32;

// Reads a zero-terminated text starting at `at`. False when no zero byte
// follows inside the payload.
bool ReadText(const uint8_t* payload, size_t size, size_t at, std::string& text, size_t& end) {
  if (at >= size) return false;
  const void* zero = std::memchr(payload + at, 0, size - at);
  if (zero == nullptr) return false;
  end = static_cast<const uint8_t*>(zero) - payload;
  text.assign(reinterpret_cast<const char*>(payload + at), end - at);
  return true;
}

std::string SizeError(size_t size, size_t expected) {
  return "payload of " + std::to_string(size) + " bytes where " + std::to_string(expected) +
         " were expected";
}

}  // namespace

const char* CommandName(Command command) {
  for (const auto& entry : kCommands) {
    if (entry.command == command) return entry.name;
  }
  return "Unknown";
}

Command CommandFromName(const std::string& name) {
  for (const auto& entry : kCommands) {
    if (name == entry.name) return entry.command;
  }
  return Command::Unknown;
}

void PutInt32(uint8_t* out, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

int32_t GetInt32(const uint8_t* in) {
  const uint32_t v = (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | uint32_t{in[3]};
  return static_cast<int32_t>(v);
}

Request ParseRequest(const uint8_t* payload, size_t size) {
  Request r;
  r.size = size;
  size_t name_end = 0;
  if (!ReadText(payload, size, 0, r.name, name_end)) {
    if (size > 0) r.name.assign(reinterpret_cast<const char*>(payload), size < kMaxLoggedName ? size : kMaxLoggedName);
    r.error = "no zero byte after the command name";
    return r;
  }
  r.command = CommandFromName(r.name);
  const size_t a = name_end + 1;  // first byte after the name's zero byte
  size_t expected = a;
  switch (r.command) {
    case Command::Unknown:
      r.error = "unknown command";
      return r;
    case Command::OpenFile:
    case Command::ExistFile:
    case Command::DeleteFile:
    case Command::GetFuture:
    case Command::CreateFile: {
      size_t text_end = 0;
      if (!ReadText(payload, size, a, r.text, text_end)) {
        r.text.clear();
        r.error = "no zero byte after the text argument";
        return r;
      }
      expected = text_end + 1;
      if (r.command == Command::CreateFile) {
        // The path is followed by two zero bytes.
        if (text_end + 1 >= size || payload[text_end + 1] != 0) {
          r.error = "no second zero byte after the path";
          return r;
        }
        expected = text_end + 2;
      }
      break;
    }
    case Command::GetHrpMaxBuffer:
    case Command::GetTerminalVersion:
    case Command::Disconnect:
      break;
    case Command::WriteFile:
      if (size < a + 8) {
        r.error = SizeError(size, a + 8);
        return r;
      }
      r.handle = GetInt32(payload + a);
      r.count = GetInt32(payload + a + 4);
      if (r.count < 0) {
        r.error = "negative byte count";
        return r;
      }
      expected = a + 8 + static_cast<size_t>(r.count);
      if (size == expected) r.data = payload + a + 8;
      break;
    case Command::LengthFile:
      expected = a + 5;
      if (size >= expected) {
        r.handle = GetInt32(payload + a);
        if (payload[a + 4] != 0) {
          r.error = "no zero byte after the handle";
          return r;
        }
      }
      break;
    case Command::ReadFile:
      expected = a + 8;
      if (size >= expected) {
        r.handle = GetInt32(payload + a);
        r.count = GetInt32(payload + a + 4);
      }
      break;
    case Command::CloseFile:
      expected = a + 4;
      if (size >= expected) r.handle = GetInt32(payload + a);
      break;
  }
  if (size != expected) r.error = SizeError(size, expected);
  return r;
}

Bytes NumberReply(int32_t value, NumberShape shape) {
  if (shape == NumberShape::Four) {
    Bytes out(4);
    PutInt32(out.data(), value);
    return out;
  }
  Bytes out(8);
  PutInt32(out.data(), value == 0 ? 0 : 1);
  PutInt32(out.data() + 4, value);
  return out;
}

Bytes TextReply(const std::string& utf8) {
  Bytes out(4 + utf8.size() + 1, 0);
  out[3] = 1;
  std::memcpy(out.data() + 4, utf8.data(), utf8.size());
  return out;
}

Bytes DataReply(const uint8_t* data, size_t count) {
  Bytes out(8 + count);
  PutInt32(out.data(), 1);
  PutInt32(out.data() + 4, static_cast<int32_t>(count));
  if (count > 0) std::memcpy(out.data() + 8, data, count);
  return out;
}

Bytes Frame(const Bytes& payload) {
  Bytes out(4 + payload.size());
  PutInt32(out.data(), static_cast<int32_t>(payload.size()));
  if (!payload.empty()) std::memcpy(out.data() + 4, payload.data(), payload.size());
  return out;
}

}  // namespace merxa
