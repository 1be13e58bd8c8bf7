#include "link/framing.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>

#include "base/value.hpp"
#include "link/messages.hpp"
#include "socket_pair.hpp"
#include "tests/support/raised_text.hpp"

namespace vtsd {
namespace {

using test::RaisedText;
using testing::Bytes;
using testing::Frame;
using testing::SocketPair;

class FramingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::English);
    ASSERT_TRUE(pair.ok());
  }
  SocketPair pair;
};

struct DecodeCase {
  const char* name;
  std::vector<uint8_t> frame;
  std::string expected;
};

TEST_F(FramingTest, DecodesEveryReplyShapeByLength) {
  const std::vector<DecodeCase> cases = {
      {"status pair, status 0", testing::StatusReply(0, 99), "0"},
      {"status pair, negative status", testing::StatusReply(-3, 99), "0"},
      {"status pair, negative value", testing::StatusReply(1, -7), "-7"},
      {"status pair, large value", testing::StatusReply(7, 123456789), "123456789"},
      {"4-byte number", testing::NumberReply(-12345), "-12345"},
      {"one byte is unsigned", Frame({0xFF}), "255"},
      {"text with status header", testing::TextReply("ABCDEFGH"), "ABCDEFGH"},
      {"text without 0x01 keeps every byte", Frame(Bytes(std::string("\0\0\0\2XYZW\0", 9))),
       std::string("\0\0\0\2XYZW\0", 9)},
      {"three text bytes read as a number", testing::TextReply("abc"), "1633837824"},
      {"empty text", testing::TextReply(""), ""},
      {"zero length", Frame({}), ""},
      {"UTF-8 text", testing::TextReply("Склад 5"), "Склад 5"},
      {"0x01 in a short reply", Frame({7, 1, 9}), ""},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    pair.PeerSend(c.frame);
    const Reply reply = ReceiveReply(pair.driver.get());
    EXPECT_EQ(reply.text, c.expected);
    EXPECT_FALSE(reply.is_data);
  }
}

// Where a text is expected, an 8-byte reply of the text shape is the 3-byte
// text; every other 8-byte reply stays a status pair.
TEST_F(FramingTest, ThreeByteTextsWhereATextIsExpected) {
  ReplyExpectation text;
  text.text = true;
  const std::vector<DecodeCase> cases = {
      {"3-byte text", testing::TextReply("5.1"), "5.1"},
      {"3-byte UTF-8 model", testing::TextReply("VТ"), "VТ"},
      {"status pair", testing::StatusReply(1, 42), "42"},
      {"status 1 without its closing zero", Frame({0, 0, 0, 1, 'a', 'b', 'c', 'd'}), "1633837924"},
      {"longer text", testing::TextReply("5.1.23"), "5.1.23"},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    pair.PeerSend(c.frame);
    EXPECT_EQ(ReceiveReply(pair.driver.get(), text).text, c.expected);
  }
}

TEST_F(FramingTest, NegativeLengthReadsNothingAfterIt) {
  std::vector<uint8_t> bytes = testing::Int32Bytes(-5);
  const std::vector<uint8_t> next = testing::NumberReply(42);
  bytes.insert(bytes.end(), next.begin(), next.end());
  pair.PeerSend(bytes);
  EXPECT_EQ(ReceiveReply(pair.driver.get()).text, "");
  EXPECT_EQ(ReceiveReply(pair.driver.get()).text, "42");
}

TEST_F(FramingTest, DataReplyFillsTheOutstandingPiece) {
  // Lengths around the 50-byte border: short pieces would otherwise read as
  // texts or numbers (1 data byte is N = 9, 42 bytes N = 50).
  for (std::size_t count : {1u, 3u, 5u, 42u, 43u, 300u}) {
    SCOPED_TRACE(count);
    std::vector<uint8_t> data(count);
    for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
    ReplyExpectation read;
    read.data = count;
    pair.PeerSend(testing::DataReply(data));
    const Reply reply = ReceiveReply(pair.driver.get(), read);
    EXPECT_EQ(reply.text, "1");
    EXPECT_TRUE(reply.is_data);
    EXPECT_EQ(reply.data, data);
  }
}

TEST_F(FramingTest, NonDataAnswerToReadCarriesNoData) {
  ReplyExpectation read;
  read.data = 10;
  pair.PeerSend(testing::NumberReply(0));
  const Reply reply = ReceiveReply(pair.driver.get(), read);
  EXPECT_EQ(reply.text, "0");
  EXPECT_FALSE(reply.is_data);
  EXPECT_TRUE(reply.data.empty());
}

TEST_F(FramingTest, RefusesReplyLengthsNoRequestCanNeed) {
  const std::string mismatch = link_text::kReplyMismatch.en;
  // Data with nothing outstanding, data longer than asked, an absurd length.
  pair.PeerSend(Frame(std::vector<uint8_t>(51, 0x55)));
  EXPECT_EQ(RaisedText([&] { ReceiveReply(pair.driver.get()); }), mismatch);

  SocketPair second;
  ReplyExpectation read;
  read.data = 100;
  second.PeerSend(testing::DataReply(std::vector<uint8_t>(200, 1)));
  EXPECT_EQ(RaisedText([&] { ReceiveReply(second.driver.get(), read); }), mismatch);

  SocketPair third;
  third.PeerSend(testing::Int32Bytes(0x7FFFFFFF));
  EXPECT_EQ(RaisedText([&] { ReceiveReply(third.driver.get()); }), mismatch);
  EXPECT_EQ(mismatch[0], '4');
  EXPECT_EQ(std::string(link_text::kReplyMismatch.ru)[0], '4');
}

TEST_F(FramingTest, ReplyNumberFailsAsConversionNotDriverError) {
  EXPECT_EQ(ReplyNumber("-17"), -17);
  EXPECT_THROW(ReplyNumber("Merxa"), LibraryError);
  EXPECT_THROW(ReplyNumber(""), LibraryError);
}

struct RequestCase {
  const char* name;
  Payload payload;
  std::vector<uint8_t> expected;
};

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
std::vector<uint8_t> Z(std::size_t n) { return std::vector<uint8_t>(n, 0); }
std::vector<uint8_t> BE(int32_t v) { return testing::Int32Bytes(v); }

TEST_F(FramingTest, EncodesEveryCommandByteForByte) {
  const std::vector<uint8_t> data = {0xDE, 0xAD, 0xBE};
  const std::vector<RequestCase> cases = {
      {"OpenFile", EncodeOpenFile("\\a.db"), Concat({Bytes("OpenFile"), Z(1), Bytes("\\a.db"), Z(1)})},
      {"CreateFile", EncodeCreateFile("x"), Concat({Bytes("CreateFile"), Z(1), Bytes("x"), Z(2)})},
      {"ExistFile", EncodeExistFile("x"), Concat({Bytes("ExistFile"), Z(1), Bytes("x"), Z(1)})},
      {"DeleteFile", EncodeDeleteFile("x"), Concat({Bytes("DeleteFile"), Z(1), Bytes("x"), Z(1)})},
      {"GetHrpMaxBuffer", EncodeGetHrpMaxBuffer(), Concat({Bytes("GetHrpMaxBuffer"), Z(1)})},
      {"WriteFile", EncodeWriteFile(0x01020304, data.data(), 3),
       Concat({Bytes("WriteFile"), Z(1), BE(0x01020304), BE(3), data})},
      {"LengthFile", EncodeLengthFile(-1), Concat({Bytes("LengthFile"), Z(1), BE(-1), Z(1)})},
      {"ReadFile", EncodeReadFile(7, 300), Concat({Bytes("ReadFile"), Z(1), BE(7), BE(300)})},
      {"CloseFile", EncodeCloseFile(7), Concat({Bytes("CloseFile"), Z(1), BE(7)})},
      {"GetFuture", EncodeGetFuture("MerxaDir"), Concat({Bytes("GetFuture"), Z(1), Bytes("MerxaDir"), Z(1)})},
      {"GetTerminalVersion", EncodeGetTerminalVersion(), Concat({Bytes("GetTerminalVersion"), Z(1)})},
      {"Disconnect", EncodeDisconnect(), Concat({Bytes("Disconnect"), Z(1)})},
      // Texts travel in the ANSI code page (Windows-1251 here).
      {"Cyrillic path", EncodeOpenFile("Заказ\\Я"),
       Concat({Bytes("OpenFile"), Z(1), {0xC7, 0xE0, 0xEA, 0xE0, 0xE7, '\\', 0xDF}, Z(1)})},
  };
  for (const RequestCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.payload, c.expected);
    SendFrame(pair.driver.get(), c.payload.data(), c.payload.size());
    EXPECT_EQ(pair.PeerReceiveFrame(), c.expected);
  }
  // Fixed lengths of the commands without texts.
  EXPECT_EQ(EncodeGetHrpMaxBuffer().size(), 16u);
  EXPECT_EQ(EncodeLengthFile(1).size(), 16u);
  EXPECT_EQ(EncodeReadFile(1, 1).size(), 17u);
  EXPECT_EQ(EncodeCloseFile(1).size(), 14u);
  EXPECT_EQ(EncodeGetTerminalVersion().size(), 19u);
  EXPECT_EQ(EncodeDisconnect().size(), 11u);
}

TEST_F(FramingTest, LargeSendThatTheSystemTakesInPartsArrivesWhole) {
  std::vector<uint8_t> big(24u << 20);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + (i >> 13));
  std::vector<uint8_t> got(big.size());
  std::thread reader([&] {
    // Small reads keep the driver's send buffer full, so each send call is
    // accepted only in part.
    std::size_t at = 0;
    while (at < got.size()) {
      const int64_t n = platform::Receive(pair.peer.get(), got.data() + at,
                                          std::min<std::size_t>(4096, got.size() - at));
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
  });
  SendAll(pair.driver.get(), big.data(), big.size());
  reader.join();
  EXPECT_TRUE(got == big);
}

TEST_F(FramingTest, ReceiveAssemblesAReplySentInPieces) {
  const std::vector<uint8_t> frame = testing::TextReply("pieces arrive");
  std::thread writer([&] {
    for (uint8_t b : frame) {
      platform::Send(pair.peer.get(), &b, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_EQ(ReceiveReply(pair.driver.get()).text, "pieces arrive");
  writer.join();
}

TEST_F(FramingTest, FailuresRaiseTheExchangeMessages) {
  // The terminal closes the connection.
  pair.peer.reset();
  EXPECT_EQ(RaisedText([&] { ReceiveReply(pair.driver.get()); }), link_text::kDisconnected.en);

  // The terminal resets it: it closes with unread bytes in its buffer.
  SocketPair reset;
  SendAll(reset.driver.get(), "unread", 6);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  reset.peer.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(RaisedText([&] { ReceiveInt32(reset.driver.get()); }), link_text::kExchangeBroken.en);

  // A socket that is not connected at all.
  platform::SocketOwner unconnected(platform::CreateTcpSocket());
  EXPECT_EQ(RaisedText([&] { ReceiveInt32(unconnected.get()); }), link_text::kExchangeUnknown.en);

  SetMessageLanguage(Language::Russian);
  SocketPair closed;
  closed.peer.reset();
  EXPECT_EQ(RaisedText([&] { ReceiveInt32(closed.driver.get()); }), "4ТСД отключен.");
}

TEST_F(FramingTest, PayloadBeyondTheLengthPrefixIsRefusedBeforeAnyByteIsBuilt) {
  // Only the first byte exists: building or sending the frame would read far
  // past it.
  const uint8_t one = 7;
  const std::size_t too_long = static_cast<std::size_t>(INT32_MAX) + 1;
  EXPECT_EQ(RaisedText([&] { SendFrame(pair.driver.get(), &one, too_long); }), link_text::kExchangeUnknown.en);

  // The connection carries nothing of it: the next frame is the first the
  // peer sees.
  SendFrame(pair.driver.get(), &one, 1);
  EXPECT_EQ(pair.PeerReceive(5), (std::vector<uint8_t>{0, 0, 0, 1, 7}));
}

TEST_F(FramingTest, StalledTerminalEndsWithTheBrokenExchangeMessage) {
  const int saved = ExchangeTimeLimitMs();
  SetExchangeTimeLimitMs(200);
  PrepareDeviceSocket(pair.driver.get());
  SetExchangeTimeLimitMs(saved);
  // Half a reply, then silence.
  pair.PeerSend({0, 0});
  EXPECT_EQ(RaisedText([&] { ReceiveReply(pair.driver.get()); }), link_text::kExchangeBroken.en);
}

}  // namespace
}  // namespace vtsd
