#include "link/remote_files.hpp"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "base/progress.hpp"
#include "base/temp_dir.hpp"
#include "link/framing.hpp"
#include "link/messages.hpp"
#include "platform/files.hpp"

namespace vtsd {

namespace {

// The terminal needs room for the 18 bytes of "WriteFile" fields and data.
constexpr int32_t kSmallestPacket = kWriteFileHeader + 1;

// Asks "GetHrpMaxBuffer"; a packet without room for data fails.
int32_t QueryPacketSize(TerminalSession& session) {
  session.packet_size = session.ExchangeNumber(EncodeGetHrpMaxBuffer());
  if (session.packet_size < kSmallestPacket) Raise(link_text::kPacketSize);
  return std::min(session.packet_size, kLargestPiece);
}

// A directory the terminal names may come without its closing separator;
// the file name is joined with one either way.
std::string InDirectory(const std::string& directory, const std::string& name) {
  const char last = directory.empty() ? '\\' : directory.back();
  return last == '\\' || last == '/' ? directory + name : directory + "\\" + name;
}

std::string TerminalPath(TerminalSession& session, const TerminalLocation& where) {
  if (!where.directory_key.empty())
    return InDirectory(QueryTerminalValue(session, where.directory_key), where.name);
  return where.directory + where.name;
}

// The local file being sent, opened and measured before the terminal is
// asked for anything that changes its files.
struct LocalSource {
  std::unique_ptr<platform::File> file;
  int64_t size = 0;
};

LocalSource OpenLocalSource(const std::string& local_name) {
  const std::string path = TempPath(local_name);
  if (!platform::FileExists(path)) Raise(link_text::kSendMissing);
  LocalSource source;
  source.file = platform::File::Open(path, platform::File::Mode::Read);
  if (!source.file) Raise(link_text::kSendOpenFailed);
  source.size = source.file->Size();
  if (source.size < 0) Raise(link_text::kSendOpenFailed);
  return source;
}

// Writes the whole local file into the open terminal file, one piece per
// "WriteFile". A piece the terminal says it did not write (an answer of 0 or
// less: its storage is full, say) fails the transfer.
void SendPieces(TerminalSession& session, const RemoteFile& remote, LocalSource& source,
                int32_t packet, const std::string& local_name) {
  const int64_t piece_limit = packet - static_cast<int32_t>(kWriteFileHeader);
  // One frame buffer: length, "WriteFile" fields, then the piece read straight
  // from the file. It is no larger than the file needs.
  const int64_t piece_room = std::max<int64_t>(1, std::min<int64_t>(piece_limit, source.size));
  std::vector<uint8_t> frame(4 + kWriteFileHeader + static_cast<std::size_t>(piece_room));
  uint8_t* const data = frame.data() + 4 + kWriteFileHeader;
  TransferProgress progress{TransferProgress::Direction::ToTerminal, local_name, 0, source.size};
  for (;;) {
    const int64_t n = source.file->Read(data, piece_room);
    if (n < 0) Raise(link_text::kSendReadFailed);
    if (n == 0) break;
    const int32_t count = static_cast<int32_t>(n);
    PutInt32(frame.data(), count + static_cast<int32_t>(kWriteFileHeader));
    PutWriteFileHeader(frame.data() + 4, remote.handle(), count);
    // An answer other than the count sent but above 0 is what some terminals
    // say for a piece they took; the transfer goes on then.
    if (session.SendFrameForNumber(frame.data(), 4 + kWriteFileHeader + static_cast<std::size_t>(n)) <= 0)
      Raise(link_text::kWriteRefused);
    progress.done += n;
    ReportTransferProgress(progress);
  }
}

// Reads the open terminal file, one "ReadFile" piece at a time, handing each
// piece to `take` (false: it could not be kept).
template <class Take>
void ReceivePieces(TerminalSession& session, const RemoteFile& remote, Take&& take, int32_t packet, int32_t size,
                   const std::string& local_name) {
  int32_t received = 0;
  TransferProgress progress{TransferProgress::Direction::FromTerminal, local_name, 0, size};
  while (received < size) {
    const int32_t count = std::min(packet, size - received);
    ReplyExpectation expect;
    expect.data = static_cast<std::size_t>(count);
    const Reply reply = session.Exchange(EncodeReadFile(remote.handle(), count), expect);
    // Anything but the data asked for would put zeros into the file.
    if (!reply.is_data) {
      session.Break();
      Raise(link_text::kReplyMismatch);
    }
    if (!take(reply.data.data(), count)) Raise(link_text::kReceiveWriteFailed);
    received += count;
    progress.done = received;
    ReportTransferProgress(progress);
  }
}

// Removes a local file whose receive did not finish, however it ended.
class PartialLocalFile {
 public:
  explicit PartialLocalFile(std::string path) : path_(std::move(path)) {}
  ~PartialLocalFile() {
    if (!kept_) platform::RemoveFile(path_);
  }
  PartialLocalFile(const PartialLocalFile&) = delete;
  PartialLocalFile& operator=(const PartialLocalFile&) = delete;
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  bool kept_ = false;
};

}  // namespace

std::string QueryTerminalValue(TerminalSession& session, const std::string& key) {
  std::string value = session.ExchangeText(EncodeGetFuture(key));
  if (value.size() <= 1) Raise(link_text::kValueTooShort);
  return value;
}

bool RemoteFileExists(TerminalSession& session, const std::string& path) {
  return (session.ExchangeNumber(EncodeExistFile(path)) & 0xFF) != 0;
}

bool DeleteRemoteFile(TerminalSession& session, const std::string& path) {
  return (session.ExchangeNumber(EncodeDeleteFile(path)) & 0xFF) != 0;
}

bool CreateRemoteFile(TerminalSession& session, const std::string& path) {
  if (session.ExchangeNumber(EncodeCreateFile(path)) == 0) Raise(link_text::kCreateRemoteFailed);
  return true;
}

RemoteFile::RemoteFile(TerminalSession& session, const std::string& path) : session_(session) {
  handle_ = session_.ExchangeNumber(EncodeOpenFile(path));
  if (handle_ == 0) Raise(link_text::kOpenRemoteFailed);
  open_ = true;
}

RemoteFile::~RemoteFile() {
  try {
    Close();
  } catch (...) {
    // The failure that ends the transfer is the one reported; a session
    // that could not close the file is broken by now.
  }
}

void RemoteFile::Close() {
  if (!open_) return;
  open_ = false;
  if (session_.broken()) return;
  session_.ExchangeNumber(EncodeCloseFile(handle_));
}

void UploadDatabaseFile(TerminalSession& session, const std::string& local_name,
                        const TerminalLocation& where, bool only_over_nothing) {
  const std::string path = TerminalPath(session, where);
  LocalSource source = OpenLocalSource(local_name);
  const int32_t packet = QueryPacketSize(session);

  // From here on the terminal's file changes: until the last piece is
  // written and the file closed, a failure removes what was written.
  bool touched = false;
  try {
    const bool exists = RemoteFileExists(session, path);
    if (exists && only_over_nothing) {
      RemoteFile present(session, path);
      const int32_t length = session.ExchangeNumber(EncodeLengthFile(present.handle()));
      present.Close();
      if (length != 0) Raise(link_text::kRemoteAppeared);
    }
    if (exists) {
      // A file the terminal will not delete is opened and written over.
      if (DeleteRemoteFile(session, path)) {
        touched = true;
        CreateRemoteFile(session, path);
      }
    } else {
      touched = true;
      CreateRemoteFile(session, path);
    }
    RemoteFile remote(session, path);
    touched = true;
    if (remote.handle() == -1) Raise(link_text::kSendNoHandle);
    SendPieces(session, remote, source, packet, local_name);
    source.file.reset();
    remote.Close();
  } catch (...) {
    if (touched && !session.broken()) {
      try {
        DeleteRemoteFile(session, path);
      } catch (...) {
        // The transfer's own failure is reported.
      }
    }
    throw;
  }
}

FetchResult FetchDatabaseFileIfPresent(TerminalSession& session, const TerminalLocation& where,
                                       const std::string& local_name) {
  const std::string path = TerminalPath(session, where);
  if (!RemoteFileExists(session, path)) return FetchResult::Missing;
  RemoteFile remote(session, path);
  if (remote.handle() == -1) Raise(link_text::kReceiveNoHandle);

  const std::string local_path = TempPath(local_name);
  // A failed delete shows in the creation, which needs the file gone.
  if (platform::FileExists(local_path)) platform::RemoveFile(local_path);
  // Declared before the file, so the file is closed before it is removed.
  PartialLocalFile partial(local_path);
  std::unique_ptr<platform::File> file = platform::File::Open(local_path, platform::File::Mode::CreateNew);
  if (!file) Raise(link_text::kReceiveCreateFailed);

  const int32_t packet = QueryPacketSize(session);
  const int32_t size = session.ExchangeNumber(EncodeLengthFile(remote.handle()));
  if (size == 0) {
    file.reset();
    remote.Close();
    return FetchResult::Empty;
  }
  if (size < 0) Raise(link_text::kFileSize);
  ReceivePieces(
      session, remote, [&file](const uint8_t* data, int32_t count) { return file->Write(data, count); }, packet, size,
      local_name);
  file.reset();
  remote.Close();
  partial.Keep();
  return FetchResult::Fetched;
}

bool ReadSmallTerminalFile(TerminalSession& session, const TerminalLocation& where, int32_t largest,
                           std::string& content) {
  content.clear();
  const std::string path = TerminalPath(session, where);
  if (!RemoteFileExists(session, path)) return false;
  RemoteFile remote(session, path);
  if (remote.handle() == -1) Raise(link_text::kReceiveNoHandle);
  const int32_t packet = QueryPacketSize(session);
  const int32_t size = session.ExchangeNumber(EncodeLengthFile(remote.handle()));
  if (size < 0) Raise(link_text::kFileSize);
  if (size > largest) return false;  // no such file of the driver's own: nothing of it is read
  ReceivePieces(
      session, remote,
      [&content](const uint8_t* data, int32_t count) {
        content.append(reinterpret_cast<const char*>(data), static_cast<size_t>(count));
        return true;
      },
      packet, size, where.name);
  remote.Close();
  return true;
}

void DownloadDatabaseFile(TerminalSession& session, const TerminalLocation& where,
                          const std::string& local_name) {
  switch (FetchDatabaseFileIfPresent(session, where, local_name)) {
    case FetchResult::Fetched:
    case FetchResult::Restored: return;  // not given by this fetch
    case FetchResult::Missing: Raise(link_text::kRemoteMissing);
    case FetchResult::Empty: Raise(link_text::kFileSize);
  }
}

}  // namespace vtsd
