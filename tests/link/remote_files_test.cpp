#include "link/remote_files.hpp"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "addin/temp_dir.hpp"
#include "addin/value.hpp"
#include "link/device_test.hpp"
#include "link/framing.hpp"
#include "link/messages.hpp"
#include "fake_terminal.hpp"
#include "socket_pair.hpp"
#include "tests/support/raised_text.hpp"

namespace vtsd {
namespace {

using test::RaisedText;
using testing::FakeTerminal;
using Strings = std::vector<std::string>;

std::vector<uint8_t> Pattern(std::size_t size, unsigned seed = 1) {
  std::vector<uint8_t> b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>((i * 131 + seed * 17) ^ (i >> 8));
  return b;
}

// Open descriptors of this process that name a file under dir.
int OpenFilesUnder(const std::string& dir) {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(d)) {
      char target[4096];
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      const ssize_t len = ::readlink(link.c_str(), target, sizeof target - 1);
      if (len > 0 && std::string(target, static_cast<std::size_t>(len)).rfind(dir, 0) == 0) ++n;
    }
    ::closedir(d);
  }
  return n;
}

class RemoteFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::English);
    char dir[] = "/tmp/vtsd-link-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    temp_ = dir;
    SetTempDir(temp_ + "/");
    ASSERT_TRUE(pair_.ok());
    AppVersionText() = "5.0.1";
    RemoteFileHandle() = 0;
  }
  void TearDown() override {
    terminal.Stop();
    std::string cmd = "rm -rf '" + temp_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  // Starts the terminal on its end of the pair; set its behaviour first.
  SocketHandle Device() {
    if (!started_) {
      terminal.Serve(pair_.peer.release());
      started_ = true;
    }
    return pair_.driver.get();
  }
  void WriteLocal(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(TempPath(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<uint8_t> ReadLocal(const std::string& name) {
    std::ifstream in(TempPath(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  FakeTerminal terminal;
  std::string temp_;

 private:
  testing::SocketPair pair_;
  bool started_ = false;
};

TEST_F(RemoteFilesTest, UploadOfANewCatalogueAsTheTerminalSeesIt) {
  const std::vector<uint8_t> content = Pattern(1000);
  WriteLocal("Merxa.db", content);
  terminal.max_packet = 300;
  ASSERT_TRUE(UploadDatabaseFile(Device(), "Merxa.db", "Merxa.db"));
  EXPECT_EQ(terminal.Commands(),
            (Strings{"GetFuture", "ExistFile", "CreateFile", "OpenFile", "GetHrpMaxBuffer", "WriteFile",
                     "WriteFile", "WriteFile", "WriteFile", "CloseFile"}));
  const auto log = terminal.Log();
  EXPECT_EQ(log[0].text, "MerxaDir");
  EXPECT_EQ(log[1].text, "\\Merxa5\\Merxa.db");
  // Each request stays within the packet size: 282 data bytes + 18.
  EXPECT_EQ(terminal.Counts("WriteFile"), (std::vector<int32_t>{282, 282, 282, 154}));
  for (const auto& r : log) {
    if (r.command == "WriteFile") {
      EXPECT_LE(r.payload_size, 300u);
    }
  }
  EXPECT_EQ(terminal.Files().at("\\Merxa5\\Merxa.db"), content);
}

TEST_F(RemoteFilesTest, UploadReplacesAnExistingFile) {
  terminal.PutFile("\\MerxaSetup.db", Pattern(5000, 9));
  terminal.status_pair_numbers = true;  // numbers in the status-and-value shape
  WriteLocal("MerxaSetup.db", Pattern(70, 3));
  ASSERT_TRUE(UploadDatabaseFile(Device(), "MerxaSetup.db", "MerxaSetup.db"));
  EXPECT_EQ(terminal.Commands(), (Strings{"ExistFile", "DeleteFile", "CreateFile", "OpenFile",
                                          "GetHrpMaxBuffer", "WriteFile", "CloseFile"}));
  EXPECT_EQ(terminal.Files().at("\\MerxaSetup.db"), Pattern(70, 3));
}

TEST_F(RemoteFilesTest, RefusedDeleteWritesOverTheExistingFileWithoutCreating) {
  terminal.PutFile("Merxa5\\Order\\Podbor.db", Pattern(100, 2));
  terminal.refuse_delete = true;
  WriteLocal("Podbor.db", Pattern(60, 4));
  ASSERT_TRUE(UploadDatabaseFile(Device(), "Podbor.db", "Podbor.db"));
  EXPECT_EQ(terminal.Commands(), (Strings{"ExistFile", "DeleteFile", "OpenFile", "GetHrpMaxBuffer",
                                          "WriteFile", "CloseFile"}));
  EXPECT_EQ(terminal.Files().at("Merxa5\\Order\\Podbor.db"), Pattern(60, 4));
}

TEST_F(RemoteFilesTest, EmptyLocalFileSendsNoData) {
  WriteLocal("Orders.db", {});
  ASSERT_TRUE(UploadDatabaseFile(Device(), "Orders.db", "Orders.db"));
  EXPECT_EQ(terminal.Commands(),
            (Strings{"ExistFile", "CreateFile", "OpenFile", "GetHrpMaxBuffer", "CloseFile"}));
  EXPECT_EQ(terminal.Log()[0].text, "Orders.db");
}

TEST_F(RemoteFilesTest, TerminalPathsFollowTheVersionAndTheDirectoryAnswers) {
  struct Case {
    const char* version;
    const char* name;
    const char* upload;
    const char* download;
  };
  const std::vector<Case> cases = {
      {"5.0.1", "Merxa.db", "\\Merxa5\\Merxa.db", ""},
      {"5.0.1", "MerxaSetup.db", "\\MerxaSetup.db", "\\MerxaSetup.db"},
      {"5.0.1", "Podbor.db", "Merxa5\\Order\\Podbor.db", "Merxa5\\Order\\Podbor.db"},
      {"4.2.0", "Podbor.db", "Podbor.db", ""},
      {"5.0.1", "Orders.db", "Orders.db", "\\Merxa5\\Order\\Orders.db"},
      {"5.0.1", "Other.db", "Other.db", ""},
  };
  const SocketHandle device = Device();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " " + c.name);
    AppVersionText() = c.version;
    EXPECT_EQ(UploadPath(device, c.name, c.name), c.upload);
    EXPECT_EQ(DownloadPath(device, c.name), c.download);
  }
}

TEST_F(RemoteFilesTest, DownloadPiecesFollowThePacketSize) {
  struct Case {
    std::size_t size;
    int32_t packet;
    std::vector<int32_t> reads;
  };
  const std::vector<Case> cases = {
      {1000, 300, {300, 300, 300, 100}},
      {900, 300, {300, 300, 300}},
      {43, 300, {43}},
      {1, 300, {1}},
      {100, 19, {19, 19, 19, 19, 19, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    FakeTerminal t;
    t.max_packet = c.packet;
    t.PutFile("\\MerxaSetup.db", Pattern(c.size, static_cast<unsigned>(c.size)));
    testing::SocketPair pair;
    t.Serve(pair.peer.release());
    ASSERT_TRUE(DownloadDatabaseFile(pair.driver.get(), "MerxaSetup.db", "MerxaSetup.db"));
    EXPECT_EQ(t.Counts("ReadFile"), c.reads);
    EXPECT_EQ(ReadLocal("MerxaSetup.db"), Pattern(c.size, static_cast<unsigned>(c.size)));
    t.Stop();
  }
}

TEST_F(RemoteFilesTest, DownloadSequenceAndShortPiecesReachTheFile) {
  // Every size from 1 to 43 bytes, and files whose last piece is short.
  FakeTerminal& t = terminal;
  t.max_packet = 64;
  const SocketHandle device = Device();
  std::vector<std::size_t> sizes;
  for (std::size_t s = 1; s <= 43; ++s) sizes.push_back(s);
  for (std::size_t s : {65u, 64u * 3 + 1, 64u * 3 + 42, 64u * 3 + 43}) sizes.push_back(s);
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    t.PutFile("\\Merxa5\\Order\\Orders.db", Pattern(size, static_cast<unsigned>(size)));
    ASSERT_TRUE(DownloadDatabaseFile(device, "Orders.db", "Orders.db"));
    EXPECT_EQ(ReadLocal("Orders.db"), Pattern(size, static_cast<unsigned>(size)));
  }
  const auto log = t.Log();
  EXPECT_EQ((Strings{log[0].command, log[1].command, log[2].command, log[3].command, log[4].command,
                     log[5].command, log[6].command}),
            (Strings{"GetFuture", "ExistFile", "OpenFile", "GetHrpMaxBuffer", "LengthFile", "ReadFile",
                     "CloseFile"}));
  EXPECT_EQ(log[0].text, "OrderDir");
  EXPECT_EQ(log[1].text, "\\Merxa5\\Order\\Orders.db");
  EXPECT_EQ(log[5].ints, (std::vector<int32_t>{7, 1}));
}

TEST_F(RemoteFilesTest, MissingPodborIsCreatedLocallyOthersFail) {
  const SocketHandle device = Device();
  ASSERT_TRUE(DownloadDatabaseFile(device, "Podbor.db", "Podbor.db"));
  const std::vector<uint8_t> local = ReadLocal("Podbor.db");
  ASSERT_GE(local.size(), 16u);
  EXPECT_EQ(std::string(local.begin(), local.begin() + 15), "SQLite format 3");
  EXPECT_EQ(terminal.Commands(), (Strings{"ExistFile"}));

  for (const char* name : {"Orders.db", "MerxaSetup.db"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RaisedText([&] { DownloadDatabaseFile(device, name, name); }),
              "4The requested file is missing on the device.");
  }
}

TEST_F(RemoteFilesTest, RefusalsOfTheTerminalRaiseTheirMessages) {
  struct Case {
    const char* name;
    const char* command;
    std::vector<uint8_t> reply;
    bool upload;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"create refused", "CreateFile", testing::NumberReply(0), true,
       "4An error occurred while creating the file on the TSD."},
      {"open refused", "OpenFile", testing::StatusReply(0, 7), true, "4Error when opening a file on the TSD."},
      {"handle -1 on send", "OpenFile", testing::NumberReply(-1), true,
       "4Error sending the file to the TSD. Handle ID for TSD is 0."},
      {"handle -1 on receive", "OpenFile", testing::NumberReply(-1), false,
       "4Error receive a file from the TSD. Handle ID for TSD is 0."},
      {"no packet size", "GetHrpMaxBuffer", testing::NumberReply(0), true,
       "4An error occurred while receiving the packet size of the TSD."},
      {"packet without room for data", "GetHrpMaxBuffer", testing::NumberReply(18), true,
       "4An error occurred while receiving the packet size of the TSD."},
      {"negative packet size", "GetHrpMaxBuffer", testing::NumberReply(-4096), false,
       "4An error occurred while receiving the packet size of the TSD."},
      {"empty remote file", "LengthFile", testing::NumberReply(0), false,
       "4An error occurred while getting the file size of the TSD."},
      {"negative remote size", "LengthFile", testing::NumberReply(-10), false,
       "4An error occurred while getting the file size of the TSD."},
      {"read answered by a number", "ReadFile", testing::NumberReply(0), false,
       "4An error occurred while receiving a reply from the TSD, the reply does not match the request."},
      {"more data than asked", "ReadFile", testing::DataReply(Pattern(200)), false,
       "4An error occurred while receiving a reply from the TSD, the reply does not match the request."},
      {"directory too short", "GetFuture", testing::TextReply("\\"), true,
       "4An error occurred while getting a directory from TSD."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTerminal t;
    t.PutFile("\\Merxa5\\Order\\Orders.db", Pattern(100));
    t.scripted[c.command] = {c.reply};
    testing::SocketPair pair;
    t.Serve(pair.peer.release());
    WriteLocal("Merxa.db", Pattern(100));
    EXPECT_EQ(RaisedText([&] {
                if (c.upload)
                  UploadDatabaseFile(pair.driver.get(), "Merxa.db", "Merxa.db");
                else
                  DownloadDatabaseFile(pair.driver.get(), "Orders.db", "Orders.db");
              }),
              c.message);
    // The local file is closed on the way out.
    EXPECT_EQ(OpenFilesUnder(temp_), 0);
    t.Stop();
  }
  SetMessageLanguage(Language::Russian);
  EXPECT_EQ(std::string(link_text::kOpenRemoteFailed.Text()), "4Ошибка при открытие файла на ТСД.");
}

TEST_F(RemoteFilesTest, LocalFileProblemsRaiseTheirMessages) {
  const SocketHandle device = Device();
  RemoteFileHandle() = 7;
  EXPECT_EQ(RaisedText([&] { SendLocalFile(device, "absent.db"); }), "4Error sent file does not exist.");
  SetTempDir(temp_ + "/no-such-directory/");
  EXPECT_EQ(RaisedText([&] { ReceiveRemoteFile(device, "Orders.db"); }),
            "4Error while creating a file on the PC.");
  EXPECT_TRUE(terminal.Commands().empty());
}

TEST_F(RemoteFilesTest, InterruptedReceiveLeavesTheNextReceiveWorking) {
  terminal.max_packet = 100;
  terminal.PutFile("\\MerxaSetup.db", Pattern(1000));
  terminal.close_at = 7;  // ExistFile, OpenFile, GetHrpMaxBuffer, LengthFile, ReadFile, ReadFile, ReadFile
  EXPECT_EQ(RaisedText([&] { DownloadDatabaseFile(Device(), "MerxaSetup.db", "MerxaSetup.db"); }),
            "4TSD Disconnected.");
  EXPECT_EQ(OpenFilesUnder(temp_), 0);

  FakeTerminal t;
  t.max_packet = 100;
  t.PutFile("\\MerxaSetup.db", Pattern(1000, 5));
  testing::SocketPair pair;
  t.Serve(pair.peer.release());
  ASSERT_TRUE(DownloadDatabaseFile(pair.driver.get(), "MerxaSetup.db", "MerxaSetup.db"));
  EXPECT_EQ(ReadLocal("MerxaSetup.db"), Pattern(1000, 5));
}

TEST_F(RemoteFilesTest, StalledTransferEndsWithinTheBound) {
  terminal.max_packet = 100;
  terminal.stall_at = 6;  // the second "WriteFile"
  WriteLocal("MerxaSetup.db", Pattern(500));
  const int saved = ExchangeTimeLimitMs();
  SetExchangeTimeLimitMs(300);
  const SocketHandle device = Device();
  PrepareDeviceSocket(device);
  SetExchangeTimeLimitMs(saved);
  EXPECT_EQ(RaisedText([&] { UploadDatabaseFile(device, "MerxaSetup.db", "MerxaSetup.db"); }),
            "4During an exchange relationship with TSD was broken again exchange.");
}

TEST_F(RemoteFilesTest, AbsurdPacketSizeIsUsedInBoundedPieces) {
  terminal.max_packet = 0x7FFFFFFF;
  const std::vector<uint8_t> content = Pattern((2u << 20) + 10);
  terminal.PutFile("\\MerxaSetup.db", content);
  WriteLocal("Merxa.db", content);
  ASSERT_TRUE(DownloadDatabaseFile(Device(), "MerxaSetup.db", "MerxaSetup.db"));
  EXPECT_EQ(terminal.Counts("ReadFile"), (std::vector<int32_t>{kLargestPiece, kLargestPiece, 10}));
  EXPECT_EQ(ReadLocal("MerxaSetup.db"), content);
  ASSERT_TRUE(UploadDatabaseFile(Device(), "Merxa.db", "Merxa.db"));
  const std::vector<int32_t> writes = terminal.Counts("WriteFile");
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0], kLargestPiece - 18);
  EXPECT_EQ(terminal.Files().at("\\Merxa5\\Merxa.db"), content);
}

TEST_F(RemoteFilesTest, QueriedValuesAndTheVersion) {
  terminal.values["ProgrammVersion"] = "5.2.7";
  terminal.values["MerxaDir"] = "\\Склад\\";
  terminal.values["ProgrammName"] = "M";
  const SocketHandle device = Device();
  AppVersionText() = "old";
  EXPECT_EQ(QueryAppVersion(device), "5.2.7");
  EXPECT_EQ(AppVersionText(), "5.2.7");
  // A UTF-8 directory goes back inside a path in the ANSI code page.
  WriteLocal("Merxa.db", Pattern(10));
  ASSERT_TRUE(UploadDatabaseFile(device, "Merxa.db", "Merxa.db"));
  EXPECT_EQ(terminal.Files().count("\\Склад\\Merxa.db"), 1u);
  EXPECT_EQ(RaisedText([&] { QueryTerminalValue(device, "ProgrammName"); }),
            "4An error occurred while getting a directory from TSD.");
  EXPECT_EQ(RaisedText([&] { QueryTerminalValue(device, "Unknown"); }),
            "4An error occurred while getting a directory from TSD.");
}

}  // namespace
}  // namespace vtsd
