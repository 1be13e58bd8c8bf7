// The terminal side of the wire protocol: request frames as the driver builds
// them and the reply payloads the driver decodes by their length alone.
//
// A frame is a 32-bit big-endian payload length followed by the payload. A
// request payload is the command name, a zero byte and the command's fields
// at fixed offsets; every request has an exact expected length, so a payload
// that is shorter, longer or lacks a closing zero byte is malformed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace merxa {

using Bytes = std::vector<uint8_t>;

enum class Command {
  OpenFile,
  CreateFile,
  ExistFile,
  DeleteFile,
  GetHrpMaxBuffer,
  WriteFile,
  LengthFile,
  ReadFile,
  CloseFile,
  GetFuture,
  GetTerminalVersion,
  Disconnect,
  Unknown,
};

// The wire name of a command ("Unknown" for Command::Unknown).
const char* CommandName(Command command);
// Command::Unknown when the name is not one of the table.
Command CommandFromName(const std::string& name);

// One decoded request. `text` is the path or key exactly as sent (ANSI bytes,
// not yet decoded); `data` points into the payload it was parsed from.
struct Request {
  Command command = Command::Unknown;
  std::string name;   // the command name as sent (also for unknown commands)
  std::string text;   // path (file commands) or key (GetFuture)
  int32_t handle = 0;
  int32_t count = 0;  // WriteFile and ReadFile byte count
  const uint8_t* data = nullptr;  // WriteFile data, `count` bytes
  size_t size = 0;    // payload size in bytes
  std::string error;  // empty when the request is well formed
};

// Parses one request payload. Never reads outside [payload, payload + size)
// and never allocates more than the payload already occupies.
Request ParseRequest(const uint8_t* payload, size_t size);
inline Request ParseRequest(const Bytes& payload) { return ParseRequest(payload.data(), payload.size()); }

// Big-endian 32-bit integers.
void PutInt32(uint8_t* out, int32_t value);
int32_t GetInt32(const uint8_t* in);

// Number replies. Four bytes: the value. Eight bytes: a status and the value;
// a value of 0 goes out with status 0 (the driver's "failure" reading), any
// other value with status 1.
enum class NumberShape { Four, Eight };
Bytes NumberReply(int32_t value, NumberShape shape);
// Text reply: 00 00 00 01, the UTF-8 text, one closing zero byte.
Bytes TextReply(const std::string& utf8);
// Data reply for ReadFile: an 8-byte header (status 1, byte count) and the bytes.
Bytes DataReply(const uint8_t* data, size_t count);

// A whole frame: the payload length followed by the payload.
Bytes Frame(const Bytes& payload);

// The longest text a text reply can carry: longer texts make the reply look
// like a data reply to the driver.
constexpr size_t kMaxTextBytes = 45;

}  // namespace merxa
