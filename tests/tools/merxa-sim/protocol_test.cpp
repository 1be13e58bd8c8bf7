// Request parsing, reply encoding, terminal path mapping and the option
// parser of the simulator, as tables of cases.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "options.hpp"
#include "os.hpp"
#include "protocol.hpp"
#include "terminal.hpp"
#include "wire.hpp"

namespace merxa {
namespace {

using simtest::B;
using simtest::Bytes;
using simtest::Concat;
using simtest::Payload;

struct ParseCase {
  const char* label;
  Bytes payload;
  Command command;
  std::string text;
  int32_t handle;
  int32_t count;
};

TEST(SimRequestParser, DecodesEveryCommandAtItsOffsets) {
  const Bytes data = B({0x10, 0x00, 0x20});
  const ParseCase cases[] = {
      {"OpenFile", simtest::OpenFile("\\Merxa5\\Merxa.db"), Command::OpenFile, "\\Merxa5\\Merxa.db", 0, 0},
      {"CreateFile", simtest::CreateFile("\\MerxaSetup.db"), Command::CreateFile, "\\MerxaSetup.db", 0, 0},
      {"ExistFile", simtest::ExistFile("Merxa5\\Order\\Podbor.db"), Command::ExistFile, "Merxa5\\Order\\Podbor.db", 0, 0},
      {"DeleteFile", simtest::DeleteFile("a"), Command::DeleteFile, "a", 0, 0},
      {"GetHrpMaxBuffer", simtest::GetHrpMaxBuffer(), Command::GetHrpMaxBuffer, "", 0, 0},
      {"WriteFile", simtest::WriteFile(7, data), Command::WriteFile, "", 7, 3},
      {"WriteFile empty", simtest::WriteFile(7, {}), Command::WriteFile, "", 7, 0},
      {"LengthFile", simtest::LengthFile(-1), Command::LengthFile, "", -1, 0},
      {"ReadFile", simtest::ReadFile(0x01020304, 300), Command::ReadFile, "", 0x01020304, 300},
      {"CloseFile", simtest::CloseFile(9), Command::CloseFile, "", 9, 0},
      {"GetFuture", simtest::GetFuture("ProgrammVersion"), Command::GetFuture, "ProgrammVersion", 0, 0},
      {"GetFuture empty key", simtest::GetFuture(""), Command::GetFuture, "", 0, 0},
      {"GetTerminalVersion", simtest::GetTerminalVersion(), Command::GetTerminalVersion, "", 0, 0},
      {"Disconnect", simtest::Disconnect(), Command::Disconnect, "", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Request r = ParseRequest(c.payload);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.command, c.command);
    EXPECT_EQ(r.name, CommandName(c.command));
    EXPECT_EQ(r.text, c.text);
    EXPECT_EQ(r.handle, c.handle);
    EXPECT_EQ(r.count, c.count);
    EXPECT_EQ(r.size, c.payload.size());
  }
  // The WriteFile data are the bytes after offset 18, not a copy.
  const Bytes write = simtest::WriteFile(7, data);
  const Request r = ParseRequest(write);
  ASSERT_NE(r.data, nullptr);
  EXPECT_EQ(r.data, write.data() + 18);
  EXPECT_EQ(std::memcmp(r.data, data.data(), data.size()), 0);
}

TEST(SimRequestParser, PayloadLengthsMatchTheCommandTable) {
  // The sizes the driver sends: text + fixed part, or a fixed size.
  EXPECT_EQ(simtest::OpenFile("abc").bytes().size(), 3u + 10);
  EXPECT_EQ(simtest::CreateFile("abc").bytes().size(), 3u + 13);
  EXPECT_EQ(simtest::ExistFile("abc").bytes().size(), 3u + 11);
  EXPECT_EQ(simtest::DeleteFile("abc").bytes().size(), 3u + 12);
  EXPECT_EQ(simtest::GetHrpMaxBuffer().bytes().size(), 16u);
  EXPECT_EQ(simtest::WriteFile(1, B({1, 2})).bytes().size(), 2u + 18);
  EXPECT_EQ(simtest::LengthFile(1).bytes().size(), 16u);
  EXPECT_EQ(simtest::ReadFile(1, 1).bytes().size(), 17u);
  EXPECT_EQ(simtest::CloseFile(1).bytes().size(), 14u);
  EXPECT_EQ(simtest::GetFuture("abc").bytes().size(), 3u + 11);
  EXPECT_EQ(simtest::GetTerminalVersion().bytes().size(), 19u);
  EXPECT_EQ(simtest::Disconnect().bytes().size(), 11u);
}

struct BadCase {
  const char* label;
  Bytes payload;
  const char* error_part;
};

TEST(SimRequestParser, RefusesMalformedPayloadsWithoutReadingPastThem) {
  const BadCase cases[] = {
      {"empty payload", {}, "no zero byte after the command name"},
      {"name without zero", simtest::Str("GetHrpMaxBuffer"), "no zero byte after the command name"},
      {"unknown command", Payload("FormatDisk"), "unknown command"},
      {"case differs", Payload("disconnect"), "unknown command"},
      {"path without zero", Payload("OpenFile").Raw("\\a.db"), "no zero byte after the text argument"},
      {"no argument at all", Payload("ExistFile"), "no zero byte after the text argument"},
      {"CreateFile with one zero", Payload("CreateFile").Text("a"), "no second zero byte"},
      {"CreateFile second byte not zero", Payload("CreateFile").Text("a").Raw("x"), "no second zero byte"},
      {"trailing bytes after path", simtest::OpenFile("a").Raw("zz"), "where 11 were expected"},
      {"WriteFile header cut", Payload("WriteFile").Int(1).Cut(1), "were expected"},
      {"WriteFile negative count", Payload("WriteFile").Int(1).Int(-5).Raw("abc"), "negative byte count"},
      {"WriteFile huge count", Payload("WriteFile").Int(1).Int(0x7FFFFFFF).Raw("abc"), "were expected"},
      {"WriteFile fewer bytes than count", Payload("WriteFile").Int(1).Int(4).Raw("abc"), "where 22 were expected"},
      {"WriteFile more bytes than count", Payload("WriteFile").Int(1).Int(2).Raw("abc"), "where 20 were expected"},
      {"LengthFile without its zero", simtest::LengthFile(1).Cut(1), "where 16 were expected"},
      {"LengthFile last byte set", Payload("LengthFile").Int(1).Raw("x"), "no zero byte after the handle"},
      {"ReadFile cut", simtest::ReadFile(1, 10).Cut(2), "where 17 were expected"},
      {"CloseFile too long", simtest::CloseFile(1).Zero(), "where 14 were expected"},
      {"Disconnect with extra byte", simtest::Disconnect().Zero(), "where 11 were expected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Request r = ParseRequest(c.payload);
    EXPECT_NE(r.error.find(c.error_part), std::string::npos) << r.error;
    EXPECT_EQ(r.data, nullptr);
  }
}

TEST(SimRequestParser, KeepsOnlyAShortPrefixOfANameWithoutZero) {
  const Bytes junk(1000, 'A');
  const Request r = ParseRequest(junk);
  EXPECT_FALSE(r.error.empty());
  EXPECT_LE(r.name.size(), 32u);
}

struct ReplyCase {
  const char* label;
  Bytes actual;
  Bytes expected;
};

TEST(SimReplyEncoder, ProducesTheShapesTheDriverDecodes) {
  const Bytes piece = B({0xDE, 0xAD, 0x00});
  const ReplyCase cases[] = {
      {"number 4 bytes", NumberReply(300, NumberShape::Four), B({0, 0, 1, 0x2C})},
      {"negative number 4 bytes", NumberReply(-1, NumberShape::Four), B({0xFF, 0xFF, 0xFF, 0xFF})},
      {"zero 4 bytes", NumberReply(0, NumberShape::Four), B({0, 0, 0, 0})},
      {"number 8 bytes", NumberReply(300, NumberShape::Eight), B({0, 0, 0, 1, 0, 0, 1, 0x2C})},
      {"negative number 8 bytes", NumberReply(-7, NumberShape::Eight), B({0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xF9})},
      {"zero 8 bytes has status 0", NumberReply(0, NumberShape::Eight), B({0, 0, 0, 0, 0, 0, 0, 0})},
      {"text", TextReply("5.0.1"), Concat(B({0, 0, 0, 1}), Concat(simtest::Str("5.0.1"), B({0})))},
      {"empty text", TextReply(""), B({0, 0, 0, 1, 0})},
      {"UTF-8 text", TextReply("Т"), B({0, 0, 0, 1, 0xD0, 0xA2, 0})},
      {"data", DataReply(piece.data(), piece.size()), B({0, 0, 0, 1, 0, 0, 0, 3, 0xDE, 0xAD, 0x00})},
      {"empty data", DataReply(nullptr, 0), B({0, 0, 0, 1, 0, 0, 0, 0})},
      {"frame", Frame(B({9, 8})), B({0, 0, 0, 2, 9, 8})},
      {"empty frame", Frame({}), B({0, 0, 0, 0})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.actual, c.expected);
  }
}

TEST(SimReplyEncoder, Int32RoundTripsAtTheLimits) {
  for (int32_t v : {0, 1, -1, 255, 256, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()}) {
    uint8_t b[4];
    PutInt32(b, v);
    EXPECT_EQ(GetInt32(b), v);
  }
  uint8_t b[4];
  PutInt32(b, 0x01020304);
  EXPECT_EQ(Bytes(b, b + 4), B({1, 2, 3, 4}));
}

TEST(SimTerminalPath, MapsTerminalPathsUnderTheRoot) {
  const std::filesystem::path root = "/r";
  struct Case {
    const char* path;
    const char* expected;  // nullptr: refused
  };
  const Case cases[] = {
      {"\\MerxaSetup.db", "/r/MerxaSetup.db"},
      {"Merxa5\\Order\\Podbor.db", "/r/Merxa5/Order/Podbor.db"},
      {"\\Merxa5\\\\Merxa.db", "/r/Merxa5/Merxa.db"},
      {"\\a\\.\\b", "/r/a/b"},
      {"\\a\\..\\b", "/r/b"},
      {"a/b", "/r/a/b"},
      {"Подбор.db", "/r/Подбор.db"},
      {"", nullptr},
      {"\\", nullptr},
      {"\\Merxa5\\", "/r/Merxa5"},
      {"..\\outside", nullptr},
      {"\\a\\..\\..\\outside", nullptr},
      {"\\a\\..", nullptr},
      {"C:\\Windows\\x", nullptr},
      {"file.db:stream", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::filesystem::path out;
    const bool ok = ResolveTerminalPath(root, c.path, out);
    if (c.expected == nullptr) {
      EXPECT_FALSE(ok) << out;
    } else {
      ASSERT_TRUE(ok);
      EXPECT_EQ(out, std::filesystem::u8path(c.expected));
    }
  }
  std::filesystem::path out;
  EXPECT_FALSE(ResolveTerminalPath(root, std::string("a\0b", 3), out));
}

TEST(SimTerminalPath, DecodesWindows1251) {
  EXPECT_EQ(os::Cp1251ToUtf8("\xCF\xEE\xE4\xE1\xEE\xF0.db"), "Подбор.db");
  EXPECT_EQ(os::Cp1251ToUtf8("\xB8\xA8"), "ёЁ");
  EXPECT_EQ(os::Cp1251ToUtf8("Merxa5\\Order\\"), "Merxa5\\Order\\");
  EXPECT_EQ(os::Cp1251ToUtf8(""), "");
  // 0x98 has no character in Windows-1251.
  EXPECT_EQ(os::Cp1251ToUtf8("a\x98z"), "a\xEF\xBF\xBDz");
}

TEST(SimSettingsTable, NamesTheTableFromTheVersion) {
  EXPECT_EQ(SettingsTableName("5.123"), "Merxa_5_123");
  EXPECT_EQ(SettingsTableName("5.0.1"), "Merxa_5_0.1");
  EXPECT_EQ(SettingsTableName("5.12.7"), "Merxa_5_12.");
  EXPECT_EQ(SettingsTableName("5.1"), "");
  EXPECT_EQ(SettingsTableName(""), "");
}

TEST(SimOptions, DefaultsAndValues) {
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--port", "5000", "--root", "/tmp/t"}, o, error)) << error;
  EXPECT_EQ(o.address, "127.0.0.1");
  EXPECT_EQ(o.Value("ProgrammName"), "Merxa");
  EXPECT_EQ(o.Value("ProgrammVersion"), "5.123");
  EXPECT_EQ(o.Value("MerxaDir"), "\\Merxa5\\");
  EXPECT_EQ(o.Value("OrderDir"), "\\Merxa5\\Order\\");
  EXPECT_EQ(o.Value("NoSuchKey"), "");
  EXPECT_EQ(o.numbers, NumberShape::Four);
  EXPECT_EQ(o.reconnects, 0);
  EXPECT_TRUE(o.create_setup);

  Options p;
  ASSERT_TRUE(ParseOptions({"--port", "1", "--root", "r", "--version", "4.2.0", "--numbers", "8", "--max-packet",
                            "-5", "--value", "Extra=a=b", "--zero", "GetFuture=OrderDir", "--refuse-delete",
                            "--reconnect", "3", "--bad-length", "-9"},
                           p, error))
      << error;
  EXPECT_EQ(p.Value("ProgrammVersion"), "4.2.0");
  EXPECT_EQ(p.Value("Extra"), "a=b");
  EXPECT_EQ(p.numbers, NumberShape::Eight);
  EXPECT_EQ(p.max_packet, -5);
  EXPECT_EQ(p.reconnects, 3);
  EXPECT_EQ(p.bad_length, -9);
  ASSERT_EQ(p.zero.size(), 2u);
  EXPECT_EQ(p.zero[0].command, Command::GetFuture);
  EXPECT_FALSE(p.zero[0].any_argument);
  EXPECT_EQ(p.zero[0].argument, "OrderDir");
  EXPECT_EQ(p.zero[1].command, Command::DeleteFile);
  EXPECT_TRUE(p.zero[1].any_argument);

  Options h;
  EXPECT_TRUE(ParseOptions({"--help"}, h, error));
  EXPECT_TRUE(h.help);
}

TEST(SimOptions, RefusesBadArguments) {
  const std::vector<std::vector<std::string>> cases = {
      {"--root", "r"},
      {"--port", "5000"},
      {"--port", "0", "--root", "r"},
      {"--port", "70000", "--root", "r"},
      {"--port", "12x", "--root", "r"},
      {"--port", "1", "--root", "r", "--numbers", "2"},
      {"--port", "1", "--root", "r", "--zero", "Format"},
      {"--port", "1", "--root", "r", "--value", "=x"},
      {"--port", "1", "--root", "r", "--close-at", "0"},
      {"--port", "1", "--root", "r", "--name", std::string(46, 'n')},
      {"--port", "1", "--root", "r", "--model", std::string(46, 'm')},
      {"--port", "1", "--root", "r", "--frobnicate"},
      {"--port", "1", "--root"},
  };
  for (const auto& args : cases) {
    Options o;
    std::string error;
    EXPECT_FALSE(ParseOptions(args, o, error)) << args.back();
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace merxa
