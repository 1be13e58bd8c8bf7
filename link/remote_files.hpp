// Files on the terminal: single requests on a terminal path, the transfer of
// one open remote file in either direction, the query of a named value, and
// the upload and download of the driver's database files with their fixed
// locations on the terminal. A file moves one piece at a time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.hpp"

namespace vtsd {

using platform::SocketHandle;

// The handle of the last "OpenFile" and the terminal's largest request.
int32_t& RemoteFileHandle();
int32_t& MaxPacketSize();

// Pieces never exceed this many bytes whatever the terminal's packet size, so
// an absurd "GetHrpMaxBuffer" answer cannot make the driver reserve it.
constexpr int32_t kLargestPiece = 1 << 20;

// "GetFuture": the text named by key; a text of 1 byte or less fails.
std::string QueryTerminalValue(SocketHandle device, const std::string& key);

bool RemoteFileExists(SocketHandle device, const std::string& path);
bool DeleteRemoteFile(SocketHandle device, const std::string& path);
bool CreateRemoteFile(SocketHandle device, const std::string& path);
bool OpenRemoteFile(SocketHandle device, const std::string& path);

// Transfers of the file opened by OpenRemoteFile; the local file is
// TempDir + local_name and is closed on every path out.
bool SendLocalFile(SocketHandle device, const std::string& local_name);
bool ReceiveRemoteFile(SocketHandle device, const std::string& local_name);

// Terminal paths of the database files.
std::string UploadPath(SocketHandle device, const std::string& name,
                       const std::string& name_on_terminal);
std::string DownloadPath(SocketHandle device, const std::string& name);

// Sends TempDir + name to the terminal ("Merxa.db", "MerxaSetup.db",
// "Podbor.db").
bool UploadDatabaseFile(SocketHandle device, const std::string& name,
                        const std::string& name_on_terminal);
// Fetches a terminal file into TempDir + local_name ("MerxaSetup.db",
// "Podbor.db", "Orders.db"). A missing "Podbor.db" yields a fresh empty one.
bool DownloadDatabaseFile(SocketHandle device, const std::string& name,
                          const std::string& local_name);

}  // namespace vtsd
