#include "link/remote_files.hpp"

#include <algorithm>
#include <memory>
#include <vector>

#include "addin/progress.hpp"
#include "addin/temp_dir.hpp"
#include "link/device_test.hpp"
#include "link/framing.hpp"
#include "link/messages.hpp"
#include "platform/files.hpp"
#include "selection/selection_database.hpp"

namespace vtsd {

namespace {
// The terminal needs room for the 18 bytes of "WriteFile" fields and data.
constexpr int32_t kSmallestPacket = kWriteFileHeader + 1;

// Asks "GetHrpMaxBuffer"; a packet without room for data fails.
int32_t QueryMaxPacketSize(SocketHandle device) {
  MaxPacketSize() = ExchangeNumber(device, EncodeGetHrpMaxBuffer());
  if (MaxPacketSize() < kSmallestPacket) Raise(link_text::kPacketSize);
  return std::min(MaxPacketSize(), kLargestPiece);
}

bool IsVersion5() { return !AppVersionText().empty() && AppVersionText()[0] == '5'; }
}  // namespace

int32_t& RemoteFileHandle() {
  static int32_t handle = 0;
  return handle;
}

int32_t& MaxPacketSize() {
  static int32_t size = 0;
  return size;
}

std::string QueryTerminalValue(SocketHandle device, const std::string& key) {
  std::string value = Exchange(device, EncodeGetFuture(key));
  if (value.size() <= 1) Raise(link_text::kValueTooShort);
  return value;
}

bool RemoteFileExists(SocketHandle device, const std::string& path) {
  return (ExchangeNumber(device, EncodeExistFile(path)) & 0xFF) != 0;
}

bool DeleteRemoteFile(SocketHandle device, const std::string& path) {
  return (ExchangeNumber(device, EncodeDeleteFile(path)) & 0xFF) != 0;
}

bool CreateRemoteFile(SocketHandle device, const std::string& path) {
  if (ExchangeNumber(device, EncodeCreateFile(path)) == 0) Raise(link_text::kCreateRemoteFailed);
  return true;
}

bool OpenRemoteFile(SocketHandle device, const std::string& path) {
  RemoteFileHandle() = ExchangeNumber(device, EncodeOpenFile(path));
  if (RemoteFileHandle() == 0) Raise(link_text::kOpenRemoteFailed);
  return true;
}

bool SendLocalFile(SocketHandle device, const std::string& local_name) {
  if (RemoteFileHandle() == -1) Raise(link_text::kSendNoHandle);
  const std::string path = TempPath(local_name);
  if (!platform::FileExists(path)) Raise(link_text::kSendMissing);
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::Read);
  if (!file) Raise(link_text::kSendOpenFailed);
  const int64_t size = file->Size();

  const int32_t packet = QueryMaxPacketSize(device);
  const int64_t piece_limit = packet - static_cast<int32_t>(kWriteFileHeader);
  // One frame buffer: length, "WriteFile" fields, then the piece read straight
  // from the file. It is no larger than the file needs.
  const int64_t piece_room =
      size < 0 ? piece_limit : std::max<int64_t>(1, std::min<int64_t>(piece_limit, size));
  std::vector<uint8_t> frame(4 + kWriteFileHeader + static_cast<std::size_t>(piece_room));
  uint8_t* const data = frame.data() + 4 + kWriteFileHeader;
  TransferProgress progress{TransferProgress::Direction::ToTerminal, local_name, 0, size};
  for (;;) {
    const int64_t n = file->Read(data, piece_room);
    if (n < 0) Raise(link_text::kSendReadFailed);
    if (n == 0) break;
    const int32_t count = static_cast<int32_t>(n);
    PutInt32(frame.data(), count + static_cast<int32_t>(kWriteFileHeader));
    PutWriteFileHeader(frame.data() + 4, RemoteFileHandle(), count);
    SendAll(device, frame.data(), 4 + kWriteFileHeader + static_cast<std::size_t>(n));
    // The terminal answers the bytes it wrote; the transfer goes on whatever
    // it says, as the terminal expects the next piece.
    ReplyNumber(ReceiveReply(device));
    progress.done += n;
    ReportTransferProgress(progress);
  }
  file.reset();
  ExchangeNumber(device, EncodeCloseFile(RemoteFileHandle()));
  return true;
}

bool ReceiveRemoteFile(SocketHandle device, const std::string& local_name) {
  if (RemoteFileHandle() == -1) Raise(link_text::kReceiveNoHandle);
  const std::string path = TempPath(local_name);
  // A failed delete shows in the creation, which needs the file gone.
  if (platform::FileExists(path)) platform::RemoveFile(path);
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::CreateNew);
  if (!file) Raise(link_text::kReceiveCreateFailed);

  const int32_t packet = QueryMaxPacketSize(device);
  const int32_t size = ExchangeNumber(device, EncodeLengthFile(RemoteFileHandle()));
  if (size <= 0) Raise(link_text::kFileSize);

  int32_t received = 0;
  TransferProgress progress{TransferProgress::Direction::FromTerminal, local_name, 0, size};
  while (received < size) {
    const int32_t count = std::min(packet, size - received);
    ExpectData(static_cast<std::size_t>(count));
    const Payload request = EncodeReadFile(RemoteFileHandle(), count);
    SendFrame(device, request.data(), request.size());
    received += count;
    ReceiveReply(device);
    // Anything but the data asked for would put zeros into the file.
    if (!ReceiveBuffer().filled) Raise(link_text::kReplyMismatch);
    if (!file->Write(ReceiveBuffer().data.data(), count)) Raise(link_text::kReceiveWriteFailed);
    progress.done = received;
    ReportTransferProgress(progress);
  }
  file.reset();
  ExchangeNumber(device, EncodeCloseFile(RemoteFileHandle()));
  return true;
}

// A directory the terminal names may come without its closing separator;
// the file name is joined with one either way.
static std::string InDirectory(const std::string& directory, const std::string& name) {
  const char last = directory.empty() ? '\\' : directory.back();
  return last == '\\' || last == '/' ? directory + name : directory + "\\" + name;
}

std::string UploadPath(SocketHandle device, const std::string& name,
                       const std::string& name_on_terminal) {
  if (name == "Merxa.db") return InDirectory(QueryTerminalValue(device, "MerxaDir"), name_on_terminal);
  if (name == "MerxaSetup.db") return "\\" + name_on_terminal;
  if (name == "Podbor.db" && IsVersion5()) return "Merxa5\\Order\\" + name_on_terminal;
  return name_on_terminal;
}

std::string DownloadPath(SocketHandle device, const std::string& name) {
  if (name == "MerxaSetup.db") return "\\" + name;
  if (name == "Podbor.db") return IsVersion5() ? "Merxa5\\Order\\" + name : std::string();
  if (name == "Orders.db") return InDirectory(QueryTerminalValue(device, "OrderDir"), name);
  return std::string();
}

bool UploadDatabaseFile(SocketHandle device, const std::string& name,
                        const std::string& name_on_terminal) {
  const std::string path = UploadPath(device, name, name_on_terminal);
  if (RemoteFileExists(device, path)) {
    // A file the terminal will not delete is opened and written over.
    if (DeleteRemoteFile(device, path)) CreateRemoteFile(device, path);
  } else {
    CreateRemoteFile(device, path);
  }
  OpenRemoteFile(device, path);
  return SendLocalFile(device, name);
}

bool DownloadDatabaseFile(SocketHandle device, const std::string& name,
                          const std::string& local_name) {
  const std::string path = DownloadPath(device, name);
  if (RemoteFileExists(device, path)) {
    OpenRemoteFile(device, path);
    return ReceiveRemoteFile(device, local_name);
  }
  if (name == "Podbor.db") return CreateSelectionDatabase();
  Raise(link_text::kRemoteMissing);
}

}  // namespace vtsd
