#include "link/terminal_id.hpp"

#include <cstdint>

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "link/remote_files.hpp"
#include "platform/files.hpp"

namespace vtsd {

namespace {

const TerminalLocation kIdOnTerminal{"", "\\", "VemlarTSD.id"};
// The file is sent from TempDir under this name, then removed there.
constexpr const char* kIdLocalName = "VemlarTSD.id";
constexpr size_t kIdDigits = 32;
// Anything longer is no identity file of the driver's: it is not read.
constexpr int32_t kLargestIdFile = 64;

bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

std::string NewTerminalId() {
  uint8_t bits[kIdDigits / 2];
  if (!platform::FillRandom(bits, sizeof bits)) return std::string();
  static const char kDigits[] = "0123456789abcdef";
  std::string id;
  for (uint8_t b : bits) {
    id += kDigits[b >> 4];
    id += kDigits[b & 0x0F];
  }
  return id;
}

// Reads the terminal's identity file, or writes a new one; "" when neither
// works.
std::string EstablishTerminalId(TerminalSession& session) {
  std::string content, id;
  if (ReadSmallTerminalFile(session, kIdOnTerminal, kLargestIdFile, content) && ParseTerminalId(content, id)) {
    return id;
  }
  id = NewTerminalId();
  if (id.empty() || !platform::WriteWholeFile(TempPath(kIdLocalName), id + "\r\n")) return std::string();
  UploadDatabaseFile(session, kIdLocalName, kIdOnTerminal);
  return id;
}

}  // namespace

bool ParseTerminalId(const std::string& text, std::string& id) {
  if (text.size() < kIdDigits) return false;
  for (size_t i = 0; i < kIdDigits; ++i) {
    if (!IsLowerHex(text[i])) return false;
  }
  const std::string rest = text.substr(kIdDigits);
  if (!rest.empty() && rest != "\r\n" && rest != "\n") return false;
  id = text.substr(0, kIdDigits);
  return true;
}

const std::string& TerminalId(TerminalSession& session) {
  if (session.terminal_id_known) return session.terminal_id;
  std::string id;
  try {
    id = EstablishTerminalId(session);
  } catch (const DriverError&) {
    platform::RemoveFile(TempPath(kIdLocalName));
    // A terminal that refuses the file works on without copies; a broken
    // exchange ends the call.
    if (session.broken()) throw;
    id.clear();
  }
  platform::RemoveFile(TempPath(kIdLocalName));
  session.terminal_id = id;
  session.terminal_id_known = true;
  return session.terminal_id;
}

}  // namespace vtsd
