#include "link/remote_files.hpp"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "base/temp_dir.hpp"
#include "base/value.hpp"
#include "link/application_version.hpp"
#include "link/session.hpp"
#include "link/framing.hpp"
#include "link/messages.hpp"
#include "platform/files.hpp"
#include "fake_terminal.hpp"
#include "socket_pair.hpp"
#include "tests/support/raised_text.hpp"

namespace vtsd {
namespace {

using test::RaisedText;
using testing::FakeTerminal;
using Strings = std::vector<std::string>;

// Places on the terminal as the features name them.
const TerminalLocation kCatalogue{"MerxaDir", "", "Merxa.db"};
const TerminalLocation kSettings{"", "\\", "MerxaSetup.db"};
const TerminalLocation kTasks{"", "Merxa5\\Order\\", "Podbor.db"};
const TerminalLocation kOrders{"OrderDir", "", "Orders.db"};
const TerminalLocation kBare{"", "", "Orders.db"};

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
  }
  void TearDown() override {
    Session().End();
    terminal.Stop();
    std::string cmd = "rm -rf '" + temp_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  // Starts the terminal on its end of the pair, whose other end becomes the
  // session's connection; set the terminal's behaviour first.
  TerminalSession& Device() {
    if (!started_) {
      terminal.Serve(pair_.peer.release());
      Session().Adopt(pair_.driver.release());
      started_ = true;
    }
    return Session();
  }
  // A session on a pair served by another terminal.
  static TerminalSession& SessionOn(testing::SocketPair& pair, FakeTerminal& t) {
    t.Serve(pair.peer.release());
    Session().End();
    Session().Adopt(pair.driver.release());
    return Session();
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
  UploadDatabaseFile(Device(), "Merxa.db", kCatalogue);
  // The packet size is known before the terminal's file is touched.
  EXPECT_EQ(terminal.Commands(),
            (Strings{"GetFuture", "GetHrpMaxBuffer", "ExistFile", "CreateFile", "OpenFile", "WriteFile",
                     "WriteFile", "WriteFile", "WriteFile", "CloseFile"}));
  const auto log = terminal.Log();
  EXPECT_EQ(log[0].text, "MerxaDir");
  EXPECT_EQ(log[2].text, "\\Merxa5\\Merxa.db");
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
  UploadDatabaseFile(Device(), "MerxaSetup.db", kSettings);
  EXPECT_EQ(terminal.Commands(), (Strings{"GetHrpMaxBuffer", "ExistFile", "DeleteFile", "CreateFile",
                                          "OpenFile", "WriteFile", "CloseFile"}));
  EXPECT_EQ(terminal.Files().at("\\MerxaSetup.db"), Pattern(70, 3));
}

TEST_F(RemoteFilesTest, RefusedDeleteWritesOverTheExistingFileWithoutCreating) {
  terminal.PutFile("Merxa5\\Order\\Podbor.db", Pattern(100, 2));
  terminal.refuse_delete = true;
  WriteLocal("Podbor.db", Pattern(60, 4));
  UploadDatabaseFile(Device(), "Podbor.db", kTasks);
  EXPECT_EQ(terminal.Commands(), (Strings{"GetHrpMaxBuffer", "ExistFile", "DeleteFile", "OpenFile",
                                          "WriteFile", "CloseFile"}));
  EXPECT_EQ(terminal.Files().at("Merxa5\\Order\\Podbor.db"), Pattern(60, 4));
}

TEST_F(RemoteFilesTest, EmptyLocalFileSendsNoData) {
  WriteLocal("Orders.db", {});
  UploadDatabaseFile(Device(), "Orders.db", kBare);
  EXPECT_EQ(terminal.Commands(),
            (Strings{"GetHrpMaxBuffer", "ExistFile", "CreateFile", "OpenFile", "CloseFile"}));
  EXPECT_EQ(terminal.Log()[1].text, "Orders.db");
}

TEST_F(RemoteFilesTest, TerminalPathsJoinTheDirectoryAndTheName) {
  struct Case {
    const char* answer;  // the terminal's "MerxaDir"
    TerminalLocation where;
    const char* path;
  };
  const std::vector<Case> cases = {
      {"\\Merxa5\\", kCatalogue, "\\Merxa5\\Merxa.db"},
      {"\\Merxa5", kCatalogue, "\\Merxa5\\Merxa.db"},
      {"/Merxa5/", kCatalogue, "/Merxa5/Merxa.db"},
      {"\\Merxa5\\", kSettings, "\\MerxaSetup.db"},
      {"\\Merxa5\\", kTasks, "Merxa5\\Order\\Podbor.db"},
      {"\\Merxa5\\", kBare, "Orders.db"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    FakeTerminal t;
    t.values["MerxaDir"] = c.answer;
    testing::SocketPair pair;
    TerminalSession& session = SessionOn(pair, t);
    WriteLocal("Any.db", Pattern(10));
    UploadDatabaseFile(session, "Any.db", c.where);
    EXPECT_EQ(t.Files().count(c.path), 1u);
    t.Stop();
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
    DownloadDatabaseFile(SessionOn(pair, t), kSettings, "MerxaSetup.db");
    EXPECT_EQ(t.Counts("ReadFile"), c.reads);
    EXPECT_EQ(ReadLocal("MerxaSetup.db"), Pattern(c.size, static_cast<unsigned>(c.size)));
    t.Stop();
  }
}

TEST_F(RemoteFilesTest, DownloadSequenceAndShortPiecesReachTheFile) {
  // Every size from 1 to 43 bytes, and files whose last piece is short.
  FakeTerminal& t = terminal;
  t.max_packet = 64;
  TerminalSession& session = Device();
  std::vector<std::size_t> sizes;
  for (std::size_t s = 1; s <= 43; ++s) sizes.push_back(s);
  for (std::size_t s : {65u, 64u * 3 + 1, 64u * 3 + 42, 64u * 3 + 43}) sizes.push_back(s);
  for (std::size_t size : sizes) {
    SCOPED_TRACE(size);
    t.PutFile("\\Merxa5\\Order\\Orders.db", Pattern(size, static_cast<unsigned>(size)));
    DownloadDatabaseFile(session, kOrders, "Orders.db");
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

TEST_F(RemoteFilesTest, MissingAndEmptyFilesAreReportedOrRefused) {
  terminal.PutFile("\\MerxaSetup.db", {});
  TerminalSession& session = Device();
  EXPECT_EQ(FetchDatabaseFileIfPresent(session, kTasks, "Podbor.db"), FetchResult::Missing);
  EXPECT_EQ(terminal.Commands(), (Strings{"ExistFile"}));
  // An empty file is opened, measured and closed again; no local file stays.
  WriteLocal("MerxaSetup.db", Pattern(5));
  EXPECT_EQ(FetchDatabaseFileIfPresent(session, kSettings, "MerxaSetup.db"), FetchResult::Empty);
  EXPECT_EQ(terminal.Commands(), (Strings{"ExistFile", "ExistFile", "OpenFile", "GetHrpMaxBuffer",
                                          "LengthFile", "CloseFile"}));
  EXPECT_FALSE(platform::FileExists(TempPath("MerxaSetup.db")));

  EXPECT_EQ(RaisedText([&] { DownloadDatabaseFile(session, kOrders, "Orders.db"); }),
            "4The requested file is missing on the device.");
  EXPECT_EQ(RaisedText([&] { DownloadDatabaseFile(session, kSettings, "MerxaSetup.db"); }),
            "4An error occurred while getting the file size of the TSD.");
  EXPECT_FALSE(session.broken());
}

TEST_F(RemoteFilesTest, RefusalsOfTheTerminalRaiseTheirMessages) {
  struct Case {
    const char* name;
    const char* command;
    std::vector<uint8_t> reply;
    bool upload;
    const char* message;
    bool breaks;  // the session can no longer exchange afterwards
  };
  const std::string mismatch =
      "4An error occurred while receiving a reply from the TSD, the reply does not match the request.";
  const std::vector<Case> cases = {
      {"create refused", "CreateFile", testing::NumberReply(0), true,
       "4An error occurred while creating the file on the TSD.", false},
      {"open refused", "OpenFile", testing::StatusReply(0, 7), true, "4Error when opening a file on the TSD.",
       false},
      {"handle -1 on send", "OpenFile", testing::NumberReply(-1), true,
       "4Error sending the file to the TSD. Handle ID for TSD is 0.", false},
      {"handle -1 on receive", "OpenFile", testing::NumberReply(-1), false,
       "4Error receive a file from the TSD. Handle ID for TSD is 0.", false},
      {"no packet size", "GetHrpMaxBuffer", testing::NumberReply(0), true,
       "4An error occurred while receiving the packet size of the TSD.", false},
      {"packet without room for data", "GetHrpMaxBuffer", testing::NumberReply(18), true,
       "4An error occurred while receiving the packet size of the TSD.", false},
      {"negative packet size", "GetHrpMaxBuffer", testing::NumberReply(-4096), false,
       "4An error occurred while receiving the packet size of the TSD.", false},
      {"empty remote file", "LengthFile", testing::NumberReply(0), false,
       "4An error occurred while getting the file size of the TSD.", false},
      {"negative remote size", "LengthFile", testing::NumberReply(-10), false,
       "4An error occurred while getting the file size of the TSD.", false},
      {"piece not written", "WriteFile", testing::NumberReply(0), true,
       "4The TSD did not write a piece of the file, the file was not sent. Check the free space on the TSD.",
       false},
      {"piece refused", "WriteFile", testing::NumberReply(-1), true,
       "4The TSD did not write a piece of the file, the file was not sent. Check the free space on the TSD.",
       false},
      {"read answered by a number", "ReadFile", testing::NumberReply(0), false, mismatch.c_str(), true},
      {"more data than asked", "ReadFile", testing::DataReply(Pattern(200)), false, mismatch.c_str(), true},
      {"a number that is no number", "ExistFile", testing::TextReply("maybe"), true, mismatch.c_str(), true},
      {"directory too short", "GetFuture", testing::TextReply("\\"), true,
       "4An error occurred while getting a directory from TSD.", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTerminal t;
    t.PutFile("\\Merxa5\\Order\\Orders.db", Pattern(100));
    t.scripted[c.command] = {c.reply};
    testing::SocketPair pair;
    TerminalSession& session = SessionOn(pair, t);
    WriteLocal("Merxa.db", Pattern(100));
    EXPECT_EQ(RaisedText([&] {
                if (c.upload)
                  UploadDatabaseFile(session, "Merxa.db", kCatalogue);
                else
                  DownloadDatabaseFile(session, kOrders, "Orders.db");
              }),
              c.message);
    EXPECT_EQ(session.broken(), c.breaks);
    // The local file is closed on the way out, and no partial copy stays.
    EXPECT_EQ(OpenFilesUnder(temp_), 0);
    if (!c.upload) {
      EXPECT_FALSE(platform::FileExists(TempPath("Orders.db")));
    }
    // A file opened on the terminal is closed again while the link works,
    // and an upload leaves no partial catalogue behind.
    const Strings commands = t.Commands();
    const bool opened = std::find(commands.begin(), commands.end(), "OpenFile") != commands.end() &&
                        std::string(c.name) != "open refused";
    if (opened && !c.breaks) {
      EXPECT_NE(std::find(commands.begin(), commands.end(), "CloseFile"), commands.end());
    }
    if (c.upload) {
      EXPECT_EQ(t.Files().count("\\Merxa5\\Merxa.db"), 0u);
    }
    t.Stop();
  }
  SetMessageLanguage(Language::Russian);
  EXPECT_EQ(std::string(link_text::kOpenRemoteFailed.Text()), "4Ошибка при открытие файла на ТСД.");
}

// A terminal whose storage fills up answers 0 to a "WriteFile": the upload
// fails, the terminal's file is closed and deleted, and whatever stood there
// before is not replaced by a truncated copy.
TEST_F(RemoteFilesTest, UnwrittenPieceLeavesNoTruncatedFileOnTheTerminal) {
  for (bool existed : {false, true}) {
    for (std::size_t piece : {1u, 3u}) {
      SCOPED_TRACE(std::string(existed ? "replacing" : "new") + ", piece " + std::to_string(piece));
      FakeTerminal t;
      t.max_packet = 118;  // 100 data bytes a piece
      if (existed) t.PutFile("\\Merxa5\\Merxa.db", Pattern(700, 8));
      std::vector<std::vector<uint8_t>> answers(piece - 1, testing::NumberReply(100));
      answers.push_back(testing::NumberReply(0));
      t.scripted["WriteFile"] = answers;
      testing::SocketPair pair;
      TerminalSession& session = SessionOn(pair, t);
      WriteLocal("Merxa.db", Pattern(500));
      EXPECT_EQ(RaisedText([&] { UploadDatabaseFile(session, "Merxa.db", kCatalogue); }),
                link_text::kWriteRefused.en);
      const Strings commands = t.Commands();
      ASSERT_GE(commands.size(), 2u);
      EXPECT_EQ((Strings{commands[commands.size() - 2], commands.back()}), (Strings{"CloseFile", "DeleteFile"}));
      EXPECT_EQ(t.Counts("WriteFile").size(), piece);
      EXPECT_EQ(t.Files().count("\\Merxa5\\Merxa.db"), 0u);
      // The same session sends the file once the terminal has room again.
      UploadDatabaseFile(session, "Merxa.db", kCatalogue);
      EXPECT_EQ(t.Files().at("\\Merxa5\\Merxa.db"), Pattern(500));
      t.Stop();
    }
  }
}

// Nothing on the terminal changes before the driver knows it can send: a
// local file that cannot be read or a packet size without room for data
// leave the terminal's file as it was.
TEST_F(RemoteFilesTest, LocalChecksAndThePacketSizeComeBeforeTheTerminalsFileChanges) {
  struct Case {
    const char* name;
    bool local_file;
    int32_t packet;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"local file missing", false, 4096, "4Error sent file does not exist."},
      {"packet size 0", true, 0, "4An error occurred while receiving the packet size of the TSD."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTerminal t;
    t.max_packet = c.packet;
    t.PutFile("Merxa5\\Order\\Podbor.db", Pattern(300, 6));
    testing::SocketPair pair;
    TerminalSession& session = SessionOn(pair, t);
    platform::RemoveFile(TempPath("Podbor.db"));
    if (c.local_file) WriteLocal("Podbor.db", Pattern(50));
    EXPECT_EQ(RaisedText([&] { UploadDatabaseFile(session, "Podbor.db", kTasks); }), c.message);
    for (const std::string& command : t.Commands()) {
      EXPECT_NE(command, "DeleteFile");
      EXPECT_NE(command, "CreateFile");
      EXPECT_NE(command, "OpenFile");
    }
    EXPECT_EQ(t.Files().at("Merxa5\\Order\\Podbor.db"), Pattern(300, 6));
    t.Stop();
  }
}

TEST_F(RemoteFilesTest, LocalFileProblemsRaiseTheirMessages) {
  TerminalSession& session = Device();
  EXPECT_EQ(RaisedText([&] { UploadDatabaseFile(session, "absent.db", kBare); }),
            "4Error sent file does not exist.");
  EXPECT_EQ(terminal.Commands(), (Strings{}));
  terminal.PutFile("\\Merxa5\\Order\\Orders.db", Pattern(10));
  SetTempDir(temp_ + "/no-such-directory/");
  EXPECT_EQ(RaisedText([&] { DownloadDatabaseFile(session, kOrders, "Orders.db"); }),
            "4Error while creating a file on the PC.");
  // The terminal's file was opened; it is closed again.
  EXPECT_EQ(terminal.Commands().back(), "CloseFile");
}

TEST_F(RemoteFilesTest, InterruptedReceiveLeavesTheNextReceiveWorking) {
  terminal.max_packet = 100;
  terminal.PutFile("\\MerxaSetup.db", Pattern(1000));
  terminal.close_at = 7;  // ExistFile, OpenFile, GetHrpMaxBuffer, LengthFile, ReadFile, ReadFile, ReadFile
  EXPECT_EQ(RaisedText([&] { DownloadDatabaseFile(Device(), kSettings, "MerxaSetup.db"); }),
            "4TSD Disconnected.");
  EXPECT_EQ(OpenFilesUnder(temp_), 0);
  EXPECT_FALSE(platform::FileExists(TempPath("MerxaSetup.db")));
  EXPECT_TRUE(Session().broken());

  FakeTerminal t;
  t.max_packet = 100;
  t.PutFile("\\MerxaSetup.db", Pattern(1000, 5));
  testing::SocketPair pair;
  DownloadDatabaseFile(SessionOn(pair, t), kSettings, "MerxaSetup.db");
  EXPECT_EQ(ReadLocal("MerxaSetup.db"), Pattern(1000, 5));
  t.Stop();
}

TEST_F(RemoteFilesTest, StalledTransferEndsWithinTheBound) {
  terminal.max_packet = 100;
  terminal.stall_at = 6;  // the second "WriteFile"
  WriteLocal("MerxaSetup.db", Pattern(500));
  TerminalSession& session = Device();
  platform::SetTimeouts(session.socket(), 300);
  EXPECT_EQ(RaisedText([&] { UploadDatabaseFile(session, "MerxaSetup.db", kSettings); }),
            "4During an exchange relationship with TSD was broken again exchange.");
  EXPECT_TRUE(session.broken());
}

TEST_F(RemoteFilesTest, AbsurdPacketSizeIsUsedInBoundedPieces) {
  terminal.max_packet = 0x7FFFFFFF;
  const std::vector<uint8_t> content = Pattern((2u << 20) + 10);
  terminal.PutFile("\\MerxaSetup.db", content);
  WriteLocal("Merxa.db", content);
  DownloadDatabaseFile(Device(), kSettings, "MerxaSetup.db");
  EXPECT_EQ(terminal.Counts("ReadFile"), (std::vector<int32_t>{kLargestPiece, kLargestPiece, 10}));
  EXPECT_EQ(ReadLocal("MerxaSetup.db"), content);
  UploadDatabaseFile(Device(), "Merxa.db", kCatalogue);
  const std::vector<int32_t> writes = terminal.Counts("WriteFile");
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0], kLargestPiece - 18);
  EXPECT_EQ(terminal.Files().at("\\Merxa5\\Merxa.db"), content);
}

TEST_F(RemoteFilesTest, QueriedValuesAndTheVersion) {
  terminal.values["ProgrammVersion"] = "5.2.7";
  terminal.values["MerxaDir"] = "\\Склад\\";
  terminal.values["ProgrammName"] = "M";
  TerminalSession& session = Device();
  session.app_version = "old";
  EXPECT_EQ(QueryAppVersion(session), "5.2.7");
  EXPECT_EQ(session.app_version, "5.2.7");
  // A UTF-8 directory goes back inside a path in the ANSI code page.
  WriteLocal("Merxa.db", Pattern(10));
  UploadDatabaseFile(session, "Merxa.db", kCatalogue);
  EXPECT_EQ(terminal.Files().count("\\Склад\\Merxa.db"), 1u);
  EXPECT_EQ(RaisedText([&] { QueryTerminalValue(session, "ProgrammName"); }),
            "4An error occurred while getting a directory from TSD.");
  EXPECT_EQ(RaisedText([&] { QueryTerminalValue(session, "Unknown"); }),
            "4An error occurred while getting a directory from TSD.");
}

// A version "5.1" is three bytes: its reply has the length of a status pair.
TEST_F(RemoteFilesTest, ThreeByteTextsAreTexts) {
  terminal.values["ProgrammVersion"] = "5.1";
  EXPECT_EQ(QueryAppVersion(Device()), "5.1");
}

}  // namespace
}  // namespace vtsd
