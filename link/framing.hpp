// The terminal protocol's frame (a 32-bit big-endian payload length, then the
// payload), the blocking send and receive primitives with their failure
// messages, the request encoder for every command and the reply decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket.hpp"

namespace vtsd {

using platform::SocketHandle;

// Every blocking send and receive on a terminal connection gives up after
// this long without progress and fails with the broken-exchange message. A
// working terminal answers each request within milliseconds; opening or
// writing a large database on its flash may take seconds. Half a minute
// without a single byte is a terminal that has stopped answering.
constexpr int kDefaultExchangeTimeLimitMs = 30000;
int ExchangeTimeLimitMs();
// Applies to connections prepared afterwards (tests shorten it).
void SetExchangeTimeLimitMs(int ms);
// Gives a freshly accepted terminal connection the exchange time limit.
void PrepareDeviceSocket(SocketHandle socket);

void SendAll(SocketHandle socket, const void* bytes, std::size_t count);
void SendInt32(SocketHandle socket, int32_t value);
// Sends the length and the payload in one piece, so the terminal never waits
// for a payload that the network layer holds back.
void SendFrame(SocketHandle socket, const void* payload, std::size_t length);
void ReceiveAll(SocketHandle socket, void* buffer, std::size_t count);
int32_t ReceiveInt32(SocketHandle socket);

// What the request being answered expects back.
struct ReplyExpectation {
  // A text ("GetFuture", "GetTerminalVersion"): an 8-byte reply of the text
  // shape (status bytes 00 00 00 01, three bytes, a closing zero byte) is
  // then the 3-byte text, not a status pair.
  bool text = false;
  // "ReadFile": the data bytes it asked for (0 for any other request).
  std::size_t data = 0;
};

// One decoded reply: its text, or the data bytes a "ReadFile" asked for.
struct Reply {
  std::string text;  // "1" for a data reply
  bool is_data = false;
  std::vector<uint8_t> data;
};

// Reads one reply frame and decodes it by its length alone:
//   1      one byte, its decimal value
//   4      a big-endian signed integer, its decimal text
//   8      status then value: the value's text when status > 0, else "0";
//          a 3-byte text when a text is expected and the frame has its shape
//   > 50   data: the bytes after the 8-byte header are the reply's data
//   other  text: when a byte 0x01 occurs, bytes 4 .. N-2, else all N bytes
// A data reply is also recognised at any length when it is exactly the
// expected "ReadFile" count plus its header (short last pieces). A length
// above 50 that is not that data reply fails with the mismatch message
// without reading, so no hostile length is ever allocated.
Reply ReceiveReply(SocketHandle socket, const ReplyExpectation& expect = {});

// The decoded number of a reply; a text that is no decimal integer fails
// with a conversion failure (not a DriverError).
int32_t ReplyNumber(const std::string& text);

// Request payloads. Texts are UTF-8 here and go out in the ANSI code page.
using Payload = std::vector<uint8_t>;
Payload EncodeOpenFile(const std::string& path);
Payload EncodeCreateFile(const std::string& path);
Payload EncodeExistFile(const std::string& path);
Payload EncodeDeleteFile(const std::string& path);
Payload EncodeGetHrpMaxBuffer();
Payload EncodeWriteFile(int32_t handle, const void* data, int32_t count);
Payload EncodeLengthFile(int32_t handle);
Payload EncodeReadFile(int32_t handle, int32_t count);
Payload EncodeCloseFile(int32_t handle);
Payload EncodeGetFuture(const std::string& key);
Payload EncodeGetTerminalVersion();
Payload EncodeDisconnect();

// "WriteFile" fields before the data: name, handle, count (18 bytes).
constexpr std::size_t kWriteFileHeader = 18;
void PutWriteFileHeader(uint8_t* at, int32_t handle, int32_t count);

void PutInt32(uint8_t* at, int32_t value);
int32_t GetInt32(const uint8_t* at);

}  // namespace vtsd
