#include "link/framing.hpp"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "base/value.hpp"
#include "link/messages.hpp"
#include "platform/codepage.hpp"

namespace vtsd {

namespace {
std::atomic<int> g_exchange_time_limit_ms{kDefaultExchangeTimeLimitMs};

// Largest reply that is not file data: texts, numbers and the status pair.
constexpr int32_t kLargestPlainReply = 50;

[[noreturn]] void RaiseSocketFailure() {
  const platform::SocketErrorKind kind = platform::LastSocketError();
  if (kind == platform::SocketErrorKind::Other) Raise(link_text::kExchangeUnknown);
  Raise(link_text::kExchangeBroken);
}

// name, its zero byte, then room for `args` bytes, all zero.
Payload Command(const char* name, std::size_t args) {
  const std::size_t name_len = std::strlen(name);
  Payload p(name_len + 1 + args, 0);
  std::memcpy(p.data(), name, name_len);
  return p;
}

// name, zero, the text in the ANSI code page, then `zeros` zero bytes.
Payload TextCommand(const char* name, const std::string& text, std::size_t zeros) {
  const std::string ansi = platform::Utf8ToAnsi(text);
  Payload p = Command(name, ansi.size() + zeros);
  std::memcpy(p.data() + std::strlen(name) + 1, ansi.data(), ansi.size());
  return p;
}

Payload HandleCommand(const char* name, int32_t handle, std::size_t extra) {
  Payload p = Command(name, 4 + extra);
  PutInt32(p.data() + std::strlen(name) + 1, handle);
  return p;
}
}  // namespace

int ExchangeTimeLimitMs() { return g_exchange_time_limit_ms.load(); }
void SetExchangeTimeLimitMs(int ms) { g_exchange_time_limit_ms.store(ms); }

void PrepareDeviceSocket(SocketHandle socket) {
  platform::SetTimeouts(socket, ExchangeTimeLimitMs());
}

void PutInt32(uint8_t* at, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  at[0] = static_cast<uint8_t>(v >> 24);
  at[1] = static_cast<uint8_t>(v >> 16);
  at[2] = static_cast<uint8_t>(v >> 8);
  at[3] = static_cast<uint8_t>(v);
}

int32_t GetInt32(const uint8_t* at) {
  const uint32_t v = (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
                     (static_cast<uint32_t>(at[2]) << 8) | static_cast<uint32_t>(at[3]);
  return static_cast<int32_t>(v);
}

void SendAll(SocketHandle socket, const void* bytes, std::size_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  while (count > 0) {
    const int64_t n = platform::Send(socket, p, count);
    if (n <= 0) RaiseSocketFailure();
    p += n;
    count -= static_cast<std::size_t>(n);
  }
}

void SendInt32(SocketHandle socket, int32_t value) {
  uint8_t b[4];
  PutInt32(b, value);
  SendAll(socket, b, sizeof b);
}

void SendFrame(SocketHandle socket, const void* payload, std::size_t length) {
  // The length goes out as a signed 32-bit count; a longer payload cannot be
  // framed, and on a 32-bit build 4 + length could wrap round to a frame too
  // small for its own prefix.
  if (length > static_cast<std::size_t>(INT32_MAX)) Raise(link_text::kExchangeUnknown);
  std::vector<uint8_t> frame(4 + length);
  PutInt32(frame.data(), static_cast<int32_t>(length));
  if (length > 0) std::memcpy(frame.data() + 4, payload, length);
  SendAll(socket, frame.data(), frame.size());
}

void ReceiveAll(SocketHandle socket, void* buffer, std::size_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const int64_t n = platform::Receive(socket, p, count);
    if (n == 0) Raise(link_text::kDisconnected);
    if (n < 0) RaiseSocketFailure();
    p += n;
    count -= static_cast<std::size_t>(n);
  }
}

int32_t ReceiveInt32(SocketHandle socket) {
  uint8_t b[4];
  ReceiveAll(socket, b, sizeof b);
  return GetInt32(b);
}

Reply ReceiveReply(SocketHandle socket, const ReplyExpectation& expect) {
  Reply reply;
  const int32_t n = ReceiveInt32(socket);
  if (expect.data > 0 && static_cast<int64_t>(n) == static_cast<int64_t>(expect.data) + 8) {
    uint8_t header[8];
    ReceiveAll(socket, header, sizeof header);
    reply.data.resize(expect.data);
    ReceiveAll(socket, reply.data.data(), expect.data);
    reply.is_data = true;
    reply.text = "1";
    return reply;
  }
  if (n > kLargestPlainReply) Raise(link_text::kReplyMismatch);

  uint8_t b[kLargestPlainReply];
  if (n > 0) ReceiveAll(socket, b, static_cast<std::size_t>(n));
  if (n == 8) {
    // The text shape: four status bytes 00 00 00 01, the text, a zero byte.
    if (expect.text && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1 && b[7] == 0) {
      reply.text.assign(reinterpret_cast<const char*>(b) + 4, 3);
    } else {
      reply.text = GetInt32(b) > 0 ? std::to_string(GetInt32(b + 4)) : "0";
    }
  } else if (n == 4) {
    reply.text = std::to_string(GetInt32(b));
  } else if (n == 1) {
    reply.text = std::to_string(static_cast<unsigned>(b[0]));
  } else if (n > 0 && std::memchr(b, 0x01, static_cast<std::size_t>(n)) != nullptr) {
    // Header of four bytes, the text, one closing byte.
    if (n > 5) reply.text.assign(reinterpret_cast<const char*>(b) + 4, static_cast<std::size_t>(n - 5));
  } else if (n > 0) {
    reply.text.assign(reinterpret_cast<const char*>(b), static_cast<std::size_t>(n));
  }
  return reply;
}

int32_t ReplyNumber(const std::string& text) {
  int32_t value = 0;
  if (!ParseInt32(text, value)) throw LibraryError("'" + text + "' is not a valid integer value");
  return value;
}

Payload EncodeOpenFile(const std::string& path) { return TextCommand("OpenFile", path, 1); }
Payload EncodeCreateFile(const std::string& path) { return TextCommand("CreateFile", path, 2); }
Payload EncodeExistFile(const std::string& path) { return TextCommand("ExistFile", path, 1); }
Payload EncodeDeleteFile(const std::string& path) { return TextCommand("DeleteFile", path, 1); }
Payload EncodeGetHrpMaxBuffer() { return Command("GetHrpMaxBuffer", 0); }

void PutWriteFileHeader(uint8_t* at, int32_t handle, int32_t count) {
  std::memset(at, 0, kWriteFileHeader);
  std::memcpy(at, "WriteFile", 9);
  PutInt32(at + 10, handle);
  PutInt32(at + 14, count);
}

Payload EncodeWriteFile(int32_t handle, const void* data, int32_t count) {
  Payload p(kWriteFileHeader + static_cast<std::size_t>(count));
  PutWriteFileHeader(p.data(), handle, count);
  if (count > 0) std::memcpy(p.data() + kWriteFileHeader, data, static_cast<std::size_t>(count));
  return p;
}

Payload EncodeLengthFile(int32_t handle) { return HandleCommand("LengthFile", handle, 1); }

Payload EncodeReadFile(int32_t handle, int32_t count) {
  Payload p = HandleCommand("ReadFile", handle, 4);
  PutInt32(p.data() + 13, count);
  return p;
}

Payload EncodeCloseFile(int32_t handle) { return HandleCommand("CloseFile", handle, 0); }
Payload EncodeGetFuture(const std::string& key) { return TextCommand("GetFuture", key, 1); }
Payload EncodeGetTerminalVersion() { return Command("GetTerminalVersion", 0); }
Payload EncodeDisconnect() { return Command("Disconnect", 0); }

}  // namespace vtsd
