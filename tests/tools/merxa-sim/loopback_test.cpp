// The simulator over a real loopback connection: a test-side listener plays
// the driver, accepts the simulator and checks the exact reply bytes, the
// files under the root, the faults and the request log.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "options.hpp"
#include "protocol.hpp"
#include "simulator.hpp"
#include "terminal.hpp"
#include "wire.hpp"

namespace merxa {
namespace {

namespace fs = std::filesystem;
using simtest::B;
using simtest::Bytes;
using simtest::Concat;
using simtest::Payload;
using simtest::Str;

constexpr int kWaitMs = 5000;

fs::path FreshDir(const std::string& tag) {
  static std::atomic<int> counter{0};
  const fs::path dir = fs::temp_directory_path() /
                       ("merxa-sim-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

Bytes ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteWholeFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Pattern(size_t size, int seed = 0) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return out;
}

Bytes Num4(int32_t v) { return NumberReply(v, NumberShape::Four); }
Bytes Text(const std::string& s) { return TextReply(s); }

std::vector<nlohmann::json> ReadLog(const fs::path& path) {
  std::vector<nlohmann::json> lines;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

struct Reply {
  int32_t length = 0;
  Bytes payload;
};

// The driver's side: a listening socket, the accepted simulator and a
// simulator run in a thread of this process.
class SimLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshDir("loop");
    root_ = dir_ / "root";
    log_ = dir_ / "requests.log";
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener_, 0);
    const int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    socklen_t len = sizeof sa;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }

  void TearDown() override {
    CloseConnection();
    if (listener_ >= 0) ::close(listener_);
    if (sim_.joinable()) sim_.join();
    fs::remove_all(dir_);
  }

  std::vector<std::string> BaseArgs() const {
    return {"--port", std::to_string(port_), "--root", root_.string(), "--log", log_.string(), "--connect-timeout", "5"};
  }

  // Starts the simulator thread; `listen_now` false leaves the port refusing
  // connections until Listen().
  void Start(std::vector<std::string> extra = {}, bool listen_now = true) {
    std::vector<std::string> args = BaseArgs();
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    ASSERT_TRUE(ParseOptions(args, options_, error)) << error;
    if (listen_now) Listen();
    sim_ = std::thread([this] { exit_code_ = RunSimulator(options_, errors_); });
    if (listen_now) Accept();
  }

  void Listen() { ASSERT_EQ(::listen(listener_, 1), 0); }

  void Accept() {
    pollfd p{listener_, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, kWaitMs), 1) << "the simulator did not connect";
    conn_ = ::accept(listener_, nullptr, nullptr);
    ASSERT_GE(conn_, 0);
    timeval tv{kWaitMs / 1000, 0};
    ::setsockopt(conn_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }

  void SendRaw(const Bytes& bytes) {
    ASSERT_EQ(::send(conn_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }

  void Send(const Bytes& payload) { SendRaw(Frame(payload)); }

  // Reads exactly n bytes; false when the connection ends or nothing comes in time.
  bool ReceiveExactly(uint8_t* data, size_t n) {
    while (n > 0) {
      const ssize_t got = ::recv(conn_, data, n, 0);
      if (got <= 0) return false;
      data += got;
      n -= static_cast<size_t>(got);
    }
    return true;
  }

  Reply ReadReply() {
    Reply r;
    uint8_t head[4];
    EXPECT_TRUE(ReceiveExactly(head, 4)) << "no reply";
    r.length = GetInt32(head);
    if (r.length > 0 && r.length < (1 << 24)) {
      r.payload.resize(static_cast<size_t>(r.length));
      EXPECT_TRUE(ReceiveExactly(r.payload.data(), r.payload.size())) << "reply cut short";
    }
    return r;
  }

  Bytes Call(const Bytes& payload) {
    Send(payload);
    const Reply r = ReadReply();
    EXPECT_EQ(static_cast<size_t>(r.length), r.payload.size());
    return r.payload;
  }

  int32_t CallNumber(const Bytes& payload) {
    const Bytes reply = Call(payload);
    EXPECT_EQ(reply.size(), 4u);
    return reply.size() == 4 ? GetInt32(reply.data()) : -999;
  }

  // True when the simulator closed its end (recv sees the end of stream).
  bool PeerClosed() {
    uint8_t b;
    return ::recv(conn_, &b, 1, 0) == 0;
  }

  // True when nothing at all arrives (and the connection stays open) for ms.
  bool SilentFor(int ms) {
    pollfd p{conn_, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
  }

  void CloseConnection() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
  }

  int Finish() {
    CloseConnection();
    if (sim_.joinable()) sim_.join();
    return exit_code_;
  }

  fs::path dir_, root_, log_;
  int listener_ = -1;
  int conn_ = -1;
  int port_ = 0;
  Options options_;
  std::thread sim_;
  std::atomic<int> exit_code_{-1};
  std::ostringstream errors_;
};

class SimNumberShapes : public SimLoopback, public ::testing::WithParamInterface<int> {};

TEST_P(SimNumberShapes, AnswersQueriesWithExactReplies) {
  const bool eight = GetParam() == 8;
  Start({"--numbers", eight ? "8" : "4", "--max-packet", "300", "--version", "4.2.0", "--model", "VT Тест",
         "--value", "Owner=Склад 1"});
  const NumberShape shape = eight ? NumberShape::Eight : NumberShape::Four;
  const struct {
    const char* label;
    Bytes request;
    Bytes reply;
  } cases[] = {
      {"MerxaDir", simtest::GetFuture("MerxaDir"), Text("\\Merxa5\\")},
      {"OrderDir", simtest::GetFuture("OrderDir"), Text("\\Merxa5\\Order\\")},
      {"ProgrammName", simtest::GetFuture("ProgrammName"), Text("Merxa")},
      {"ProgrammVersion", simtest::GetFuture("ProgrammVersion"), Text("4.2.0")},
      {"extra key", simtest::GetFuture("Owner"), Text("Склад 1")},
      {"unknown key", simtest::GetFuture("Nothing"), B({0, 0, 0, 1, 0})},
      {"model", simtest::GetTerminalVersion(), Text("VT Тест")},
      {"packet size", simtest::GetHrpMaxBuffer(), NumberReply(300, shape)},
      {"missing file", simtest::ExistFile("\\none.db"), NumberReply(0, shape)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Call(c.request), c.reply);
  }
  EXPECT_EQ(Call(simtest::Disconnect()), NumberReply(1, shape));
  EXPECT_TRUE(PeerClosed());
  EXPECT_EQ(Finish(), kExitDisconnected);
}

INSTANTIATE_TEST_SUITE_P(Shapes, SimNumberShapes, ::testing::Values(4, 8));

TEST_F(SimLoopback, UploadsAndDownloadsAFileInPieces) {
  Start({"--max-packet", "300"});
  const Bytes content = Pattern(1000);
  const std::string path = "\\Merxa5\\Merxa.db";

  // Upload as the driver does it: exists?, create, open, write pieces of
  // MaxPacketSize - 18 bytes, close.
  EXPECT_EQ(CallNumber(simtest::ExistFile(path)), 0);
  EXPECT_EQ(CallNumber(simtest::CreateFile(path)), 1);
  EXPECT_EQ(CallNumber(simtest::ExistFile(path)), 1);
  const int32_t up = CallNumber(simtest::OpenFile(path));
  ASSERT_GT(up, 0);
  EXPECT_EQ(CallNumber(simtest::GetHrpMaxBuffer()), 300);
  for (size_t at = 0; at < content.size(); at += 282) {
    const size_t n = std::min<size_t>(282, content.size() - at);
    const Bytes piece(content.begin() + at, content.begin() + at + n);
    EXPECT_EQ(CallNumber(simtest::WriteFile(up, piece)), static_cast<int32_t>(n));
  }
  EXPECT_EQ(CallNumber(simtest::CloseFile(up)), 1);
  EXPECT_EQ(ReadWholeFile(root_ / "Merxa5" / "Merxa.db"), content);

  // Download: open, length, read 300, 300, 300 and 100 bytes, close.
  const int32_t down = CallNumber(simtest::OpenFile(path));
  ASSERT_GT(down, 0);
  EXPECT_NE(down, up);
  EXPECT_EQ(CallNumber(simtest::LengthFile(down)), 1000);
  Bytes fetched;
  for (int32_t count : {300, 300, 300, 100}) {
    const Bytes reply = Call(simtest::ReadFile(down, count));
    ASSERT_EQ(reply.size(), static_cast<size_t>(count) + 8);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 8), Concat(B({0, 0, 0, 1}), Num4(count)));
    fetched.insert(fetched.end(), reply.begin() + 8, reply.end());
  }
  EXPECT_EQ(fetched, content);
  EXPECT_EQ(CallNumber(simtest::CloseFile(down)), 1);

  EXPECT_EQ(CallNumber(simtest::DeleteFile(path)), 1);
  EXPECT_EQ(CallNumber(simtest::ExistFile(path)), 0);
  EXPECT_FALSE(fs::exists(root_ / "Merxa5" / "Merxa.db"));
  EXPECT_EQ(CallNumber(simtest::OpenFile(path)), 0);
}

TEST_F(SimLoopback, ShortPiecesAreDataRepliesOfCountPlusEight) {
  Start({"--max-packet", "64"});
  for (size_t size = 1; size <= 43; ++size) {
    SCOPED_TRACE(size);
    const Bytes content = Pattern(size, static_cast<int>(size));
    WriteWholeFile(root_ / "piece.bin", content);
    const int32_t h = CallNumber(simtest::OpenFile("piece.bin"));
    ASSERT_GT(h, 0);
    const Bytes reply = Call(simtest::ReadFile(h, static_cast<int32_t>(size)));
    EXPECT_EQ(reply, Concat(Concat(B({0, 0, 0, 1}), Num4(static_cast<int32_t>(size))), content));
    EXPECT_EQ(CallNumber(simtest::CloseFile(h)), 1);
  }
  // Past the end only the remaining bytes come back.
  WriteWholeFile(root_ / "piece.bin", Str("abcde"));
  const int32_t h = CallNumber(simtest::OpenFile("piece.bin"));
  EXPECT_EQ(Call(simtest::ReadFile(h, 3)), Concat(B({0, 0, 0, 1, 0, 0, 0, 3}), Str("abc")));
  EXPECT_EQ(Call(simtest::ReadFile(h, 10)), Concat(B({0, 0, 0, 1, 0, 0, 0, 2}), Str("de")));
  EXPECT_EQ(Call(simtest::ReadFile(h, 10)), B({0, 0, 0, 1, 0, 0, 0, 0}));
}

TEST_F(SimLoopback, WritingAnUndeletedFileReplacesItsContent) {
  Start({"--refuse-delete"});
  WriteWholeFile(root_ / "MerxaSetup.db", Pattern(500));
  EXPECT_EQ(CallNumber(simtest::DeleteFile("\\MerxaSetup.db")), 0);
  EXPECT_TRUE(fs::exists(root_ / "MerxaSetup.db"));
  const int32_t h = CallNumber(simtest::OpenFile("\\MerxaSetup.db"));
  ASSERT_GT(h, 0);
  // Opening alone changes nothing; the first write starts the file anew.
  EXPECT_EQ(fs::file_size(root_ / "MerxaSetup.db"), 500u);
  EXPECT_EQ(CallNumber(simtest::WriteFile(h, Str("new"))), 3);
  EXPECT_EQ(CallNumber(simtest::WriteFile(h, Str("er"))), 2);
  EXPECT_EQ(CallNumber(simtest::LengthFile(h)), 5);
  EXPECT_EQ(CallNumber(simtest::CloseFile(h)), 1);
  EXPECT_EQ(ReadWholeFile(root_ / "MerxaSetup.db"), Str("newer"));
}

TEST_F(SimLoopback, RefusesWhatTheTerminalCannotDoAndStaysInStep) {
  Start({"--max-packet", "100"});
  WriteWholeFile(root_ / "data.bin", Pattern(50));
  const int32_t h = CallNumber(simtest::OpenFile("data.bin"));
  ASSERT_GT(h, 0);
  const struct {
    const char* label;
    Bytes request;
  } refused[] = {
      {"exists outside the root", simtest::ExistFile("..\\..\\etc\\passwd")},
      {"create outside the root", simtest::CreateFile("\\..\\escape.db")},
      {"create a drive path", simtest::CreateFile("C:\\escape.db")},
      {"create the empty path", simtest::CreateFile("")},
      {"create in a missing directory", simtest::CreateFile("\\NoDir\\a.db")},
      {"open a missing file", simtest::OpenFile("\\missing.db")},
      {"open a directory", simtest::OpenFile("\\Merxa5")},
      {"open the empty path", simtest::OpenFile("")},
      {"delete a missing file", simtest::DeleteFile("\\missing.db")},
      {"delete an open file", simtest::DeleteFile("data.bin")},
      {"read an unknown handle", simtest::ReadFile(h + 100, 10)},
      {"read more than MaxPacketSize", simtest::ReadFile(h, 101)},
      {"read nothing", simtest::ReadFile(h, 0)},
      {"read a negative count", simtest::ReadFile(h, -1)},
      {"write more than MaxPacketSize", simtest::WriteFile(h, Pattern(83))},
      {"write an unknown handle", simtest::WriteFile(h + 100, Str("x"))},
      {"length of an unknown handle", simtest::LengthFile(h + 100)},
      {"close an unknown handle", simtest::CloseFile(h + 100)},
      {"malformed request", Payload("WriteFile").Int(h).Int(0x7FFFFFFF).Raw("x")},
      {"unknown command", Payload("FormatDisk").Text("\\")},
      {"name without zero byte", Str("Disconnect")},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Call(c.request), Num4(0));
  }
  EXPECT_FALSE(fs::exists(dir_ / "escape.db"));
  EXPECT_FALSE(fs::exists(root_ / "NoDir"));
  EXPECT_EQ(ReadWholeFile(root_ / "data.bin"), Pattern(50));
  // A write of exactly MaxPacketSize bytes is still taken, and the stream is in step.
  EXPECT_EQ(CallNumber(simtest::WriteFile(h, Pattern(82))), 82);
  EXPECT_EQ(CallNumber(simtest::GetHrpMaxBuffer()), 100);
  EXPECT_EQ(Finish(), kExitConnectionLost);
}

TEST_F(SimLoopback, DecodesPathsFromWindows1251) {
  Start();
  const std::string ansi = "Merxa5\\\xCF\xEE\xE4\xE1\xEE\xF0.db";  // Merxa5\Подбор.db
  EXPECT_EQ(CallNumber(simtest::CreateFile(ansi)), 1);
  EXPECT_TRUE(fs::exists(root_ / "Merxa5" / fs::u8path("Подбор.db")));
  EXPECT_EQ(CallNumber(simtest::ExistFile(ansi)), 1);
  Finish();
  const auto lines = ReadLog(log_);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["path"], "Merxa5\\Подбор.db");
}

TEST_F(SimLoopback, EndsCleanlyAfterDisconnectAndReportsALostDriver) {
  Start();
  EXPECT_EQ(CallNumber(simtest::Disconnect()), 1);
  EXPECT_TRUE(PeerClosed());
  EXPECT_EQ(Finish(), kExitDisconnected);
}

TEST_F(SimLoopback, ADriverThatClosesEndsTheRunAsLost) {
  Start();
  EXPECT_EQ(CallNumber(simtest::GetHrpMaxBuffer()), 4096);
  EXPECT_EQ(Finish(), kExitConnectionLost);
}

TEST_F(SimLoopback, EndsAnIdleConnectionAfterItsTimeOut) {
  Start({"--idle-timeout", "1"});
  EXPECT_EQ(CallNumber(simtest::GetHrpMaxBuffer()), 4096);
  EXPECT_TRUE(PeerClosed());
  EXPECT_EQ(Finish(), kExitConnectionLost);
}

TEST_F(SimLoopback, AStallEndsWithTheIdleTimeOut) {
  Start({"--stall-at", "1", "--idle-timeout", "1"});
  Send(simtest::GetHrpMaxBuffer());
  EXPECT_TRUE(PeerClosed());
  EXPECT_EQ(Finish(), kExitConnectionLost);
}

TEST_F(SimLoopback, ClosesTheConnectionAtRequestK) {
  Start({"--close-at", "2"});
  EXPECT_EQ(CallNumber(simtest::GetHrpMaxBuffer()), 4096);
  Send(simtest::GetFuture("MerxaDir"));
  EXPECT_TRUE(PeerClosed());
  EXPECT_EQ(Finish(), kExitConnectionLost);
  const auto lines = ReadLog(log_);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1]["fault"], "close");
  EXPECT_EQ(lines[1]["key"], "MerxaDir");
}

TEST_F(SimLoopback, StallsAtRequestKWithTheSocketOpen) {
  Start({"--stall-at", "2"});
  EXPECT_EQ(CallNumber(simtest::GetHrpMaxBuffer()), 4096);
  Send(simtest::GetFuture("ProgrammVersion"));
  EXPECT_TRUE(SilentFor(500));
  // Later requests are swallowed too.
  Send(simtest::GetHrpMaxBuffer());
  EXPECT_TRUE(SilentFor(200));
  EXPECT_EQ(Finish(), kExitConnectionLost);
}

TEST_F(SimLoopback, SendsAnAbsurdReplyLengthAtRequestK) {
  Start({"--bad-length-at", "1"});
  Send(simtest::ReadFile(1, 10));
  uint8_t head[4];
  ASSERT_TRUE(ReceiveExactly(head, 4));
  EXPECT_EQ(Bytes(head, head + 4), B({0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(SilentFor(200));
  // The next request is answered as usual.
  EXPECT_EQ(CallNumber(simtest::GetHrpMaxBuffer()), 4096);
}

TEST_F(SimLoopback, SendsAChosenReplyLength) {
  Start({"--bad-length-at", "1", "--bad-length", "-2"});
  Send(simtest::GetHrpMaxBuffer());
  uint8_t head[4];
  ASSERT_TRUE(ReceiveExactly(head, 4));
  EXPECT_EQ(Bytes(head, head + 4), B({0xFF, 0xFF, 0xFF, 0xFE}));
}

TEST_F(SimLoopback, SendsGarbageAtRequestK) {
  Start({"--garbage-at", "1"});
  Send(simtest::GetTerminalVersion());
  Bytes junk(64);
  ASSERT_TRUE(ReceiveExactly(junk.data(), junk.size()));
  std::string expected;
  for (int i = 0; i < 8; ++i) expected += "GARBAGE!";
  EXPECT_EQ(junk, Str(expected));
  EXPECT_TRUE(SilentFor(200));
}

TEST_F(SimLoopback, AnswersZeroToNamedCommandsWithoutDoingThem) {
  Start({"--zero", "GetFuture=OrderDir", "--zero", "CreateFile", "--zero", "Disconnect"});
  EXPECT_EQ(Call(simtest::GetFuture("OrderDir")), Num4(0));
  EXPECT_EQ(Call(simtest::GetFuture("MerxaDir")), Text("\\Merxa5\\"));
  EXPECT_EQ(CallNumber(simtest::CreateFile("\\new.db")), 0);
  EXPECT_FALSE(fs::exists(root_ / "new.db"));
  // A refused "Disconnect" keeps the connection.
  EXPECT_EQ(CallNumber(simtest::Disconnect()), 0);
  EXPECT_EQ(CallNumber(simtest::GetHrpMaxBuffer()), 4096);
  EXPECT_EQ(Finish(), kExitConnectionLost);
}

// A full storage: the third request, a "WriteFile", is answered 0 and its
// bytes are not written; the terminal goes on answering.
TEST_F(SimLoopback, AnswersZeroAtRequestKWithoutDoingIt) {
  Start({"--zero-at", "3"});
  EXPECT_EQ(CallNumber(simtest::CreateFile("\\Merxa5\\Merxa.db")), 1);
  const int32_t h = CallNumber(simtest::OpenFile("\\Merxa5\\Merxa.db"));
  ASSERT_GT(h, 0);
  EXPECT_EQ(CallNumber(simtest::WriteFile(h, Str("lost"))), 0);
  EXPECT_EQ(CallNumber(simtest::WriteFile(h, Str("kept"))), 4);
  EXPECT_EQ(CallNumber(simtest::CloseFile(h)), 1);
  EXPECT_EQ(ReadWholeFile(root_ / "Merxa5" / "Merxa.db"), Str("kept"));
  const auto lines = ReadLog(log_);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2]["fault"], "zero");
}

// A Wi-Fi stall that ends: the reply comes after the pause, and the next
// request is answered at once.
TEST_F(SimLoopback, AnswersRequestKLate) {
  Start({"--late-at", "1", "--late-ms", "400"});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(CallNumber(simtest::GetHrpMaxBuffer()), 4096);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_EQ(Call(simtest::GetFuture("MerxaDir")), Text("\\Merxa5\\"));
  const auto lines = ReadLog(log_);
  ASSERT_GE(lines.size(), 1u);
  EXPECT_EQ(lines[0]["fault"], "late");
}

// The order file lies where the driver looks for it, whether or not the
// directory answer ends with a separator.
TEST_F(SimLoopback, OrderDirectoryIsJoinedAsTheDriverJoinsIt) {
  Start({"--order-dir", "\\Orders", "--documents", R"({"documents": []})"});
  EXPECT_TRUE(fs::exists(root_ / "Orders" / "Orders.db"));
  EXPECT_EQ(CallNumber(simtest::ExistFile("\\Orders\\Orders.db")), 1);
}

class SimHostileLength : public SimLoopback, public ::testing::WithParamInterface<int32_t> {};

TEST_P(SimHostileLength, DropsTheConnectionWithoutReadingTheFrame) {
  Start();
  uint8_t head[4];
  PutInt32(head, GetParam());
  SendRaw(Bytes(head, head + 4));
  EXPECT_TRUE(PeerClosed());
  EXPECT_EQ(Finish(), kExitConnectionLost);
  const auto lines = ReadLog(log_);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["bytes"], GetParam());
  EXPECT_NE(lines[0]["error"].get<std::string>().find("request length outside 0..4096"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SimHostileLength,
                         ::testing::Values(-1, std::numeric_limits<int32_t>::min(), 4097,
                                           std::numeric_limits<int32_t>::max()));

TEST_F(SimLoopback, LogsEveryRequestAsAJsonLine) {
  Start({"--max-packet", "300"});
  Call(simtest::GetFuture("MerxaDir"));
  CallNumber(simtest::CreateFile("\\Merxa5\\Merxa.db"));
  const int32_t h = CallNumber(simtest::OpenFile("\\Merxa5\\Merxa.db"));
  CallNumber(simtest::WriteFile(h, Pattern(282)));
  Call(simtest::ReadFile(h, 10));
  Call(Payload("WriteFile").Int(h).Int(5).Raw("ab"));
  CallNumber(simtest::Disconnect());
  EXPECT_EQ(Finish(), kExitDisconnected);

  const auto lines = ReadLog(log_);
  ASSERT_EQ(lines.size(), 7u);
  using nlohmann::json;
  EXPECT_EQ(lines[0], json::parse(R"({"n":1,"command":"GetFuture","key":"MerxaDir","bytes":19,"reply":13})"));
  EXPECT_EQ(lines[1],
            json::parse(R"({"n":2,"command":"CreateFile","path":"\\Merxa5\\Merxa.db","bytes":29,"reply":4})"));
  EXPECT_EQ(lines[3], json::parse(R"({"n":4,"command":"WriteFile","handle":)" + std::to_string(h) +
                                  R"(,"count":282,"bytes":300,"reply":4})"));
  EXPECT_EQ(lines[4], json::parse(R"({"n":5,"command":"ReadFile","handle":)" + std::to_string(h) +
                                  R"(,"count":10,"bytes":17,"reply":18})"));
  EXPECT_EQ(lines[5]["error"], "payload of 20 bytes where 23 were expected");
  EXPECT_EQ(lines[5]["reply"], 4);
  EXPECT_EQ(lines[6]["command"], "Disconnect");
}

TEST_F(SimLoopback, ReconnectsAfterDisconnectAndForgetsOpenFiles) {
  Start({"--reconnect", "1"});
  WriteWholeFile(root_ / "a.bin", Str("abc"));
  const int32_t h = CallNumber(simtest::OpenFile("a.bin"));
  ASSERT_GT(h, 0);
  EXPECT_EQ(CallNumber(simtest::Disconnect()), 1);
  EXPECT_TRUE(PeerClosed());
  CloseConnection();
  Accept();
  EXPECT_EQ(Call(simtest::ReadFile(h, 3)), Num4(0));
  EXPECT_EQ(CallNumber(simtest::Disconnect()), 1);
  EXPECT_EQ(Finish(), kExitDisconnected);
  const auto lines = ReadLog(log_);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3]["n"], 4);
}

TEST_F(SimLoopback, KeepsTryingUntilTheDriverListens) {
  Start({}, /*listen_now=*/false);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  Listen();
  Accept();
  EXPECT_EQ(CallNumber(simtest::Disconnect()), 1);
  EXPECT_EQ(Finish(), kExitDisconnected);
}

TEST_F(SimLoopback, GivesUpWhenNoDriverListensInTime) {
  Start({"--connect-timeout", "0"}, /*listen_now=*/false);
  EXPECT_EQ(Finish(), kExitNoConnection);
  EXPECT_NE(errors_.str().find("no connection"), std::string::npos);
}

TEST_F(SimLoopback, TheProgramServesOneConnectionAndExits) {
  Listen();
  const std::string command = std::string(MERXA_SIM_EXE) + " --once --port " + std::to_string(port_) + " --root " +
                              root_.string() + " --connect-timeout 5";
  std::atomic<int> status{-1};
  std::thread program([&] { status = std::system(command.c_str()); });
  Accept();
  EXPECT_EQ(Call(simtest::GetFuture("ProgrammVersion")), Text("5.123"));
  EXPECT_EQ(CallNumber(simtest::Disconnect()), 1);
  program.join();
  ASSERT_TRUE(WIFEXITED(status.load()));
  EXPECT_EQ(WEXITSTATUS(status.load()), 0);
}

TEST(SimProgram, HelpAndBadArguments) {
  const std::string exe = MERXA_SIM_EXE;
  const fs::path out = FreshDir("help") / "help.txt";
  int status = std::system((exe + " --help > " + out.string()).c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(out);
  const std::string help((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(help.find("Usage: merxa-sim --port PORT --root DIR"), std::string::npos);
  status = std::system((exe + " --port 1 2>/dev/null").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kExitSetupFailed);
  fs::remove_all(out.parent_path());
}

// Reads the rows of the settings table, "parameter=value" in row order.
std::vector<std::string> SettingsRows(const fs::path& file, const std::string& table) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT parameter, value FROM \"" + table + "\" ORDER BY rowid";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        rows.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))) + "=" +
                       reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
      }
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return rows;
}

TEST(SimSetupFile, CreatesTheSettingsTableForTheVersionWhenMissing) {
  const fs::path dir = FreshDir("setup");
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--port", "1", "--root", (dir / "root").string(), "--merxa-dir", "\\Data\\Cat\\"}, o, error));
  Terminal terminal(o);
  ASSERT_TRUE(terminal.Prepare(error)) << error;
  EXPECT_TRUE(fs::is_directory(dir / "root" / "Data" / "Cat"));
  EXPECT_TRUE(fs::is_directory(dir / "root" / "Merxa5" / "Order"));
  const std::vector<std::string> expected = {
      "Merxa.FieldName_001=", "Merxa.FieldName_002=", "Merxa.FieldName_003=", "Merxa.FieldName_004=",
      "Merxa.FieldName_005=", "Merxa.FieldName_006=", "Merxa.FieldName_007=", "Merxa.FieldName_008=",
      "Merxa.PriceAttrNumber=0", "Merxa.NameAttrNumber=2"};
  EXPECT_EQ(SettingsRows(dir / "root" / "MerxaSetup.db", "Merxa_5_123"), expected);

  // The driver's own statement form works on it.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir / "root" / "MerxaSetup.db").c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "UPDATE Merxa_5_123 SET value='Наименование' WHERE parameter ='Merxa.FieldName_001'",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(sqlite3_changes(db), 1);
  sqlite3_close(db);

  // An existing file is kept as it is.
  Terminal again(o);
  ASSERT_TRUE(again.Prepare(error)) << error;
  EXPECT_EQ(SettingsRows(dir / "root" / "MerxaSetup.db", "Merxa_5_123")[0], "Merxa.FieldName_001=Наименование");
  fs::remove_all(dir);
}

TEST(SimSetupFile, FollowsTheVersionAndCanBeLeftOut) {
  const fs::path dir = FreshDir("setup");
  std::string error;
  const struct {
    const char* version;
    const char* table;  // nullptr: no settings table
  } cases[] = {{"5.0.1", "Merxa_5_0.1"}, {"6.321", "Merxa_6_321"}, {"5.12", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    const fs::path root = dir / c.version;
    Options o;
    ASSERT_TRUE(ParseOptions({"--port", "1", "--root", root.string(), "--version", c.version}, o, error));
    Terminal terminal(o);
    ASSERT_TRUE(terminal.Prepare(error)) << error;
    ASSERT_TRUE(fs::exists(root / "MerxaSetup.db"));
    if (c.table != nullptr) {
      EXPECT_EQ(SettingsRows(root / "MerxaSetup.db", c.table).size(), 10u);
    } else {
      EXPECT_EQ(SettingsRows(root / "MerxaSetup.db", "Merxa_5_12").size(), 0u);
    }
  }
  Options o;
  ASSERT_TRUE(ParseOptions({"--port", "1", "--root", (dir / "bare").string(), "--no-setup"}, o, error));
  Terminal terminal(o);
  ASSERT_TRUE(terminal.Prepare(error)) << error;
  EXPECT_FALSE(fs::exists(dir / "bare" / "MerxaSetup.db"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace merxa
