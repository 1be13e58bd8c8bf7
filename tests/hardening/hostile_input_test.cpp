// Input from outside the driver built to hurt it: XML that asks for entity
// expansion or holds huge records, NUL bytes and lone surrogates in texts and
// setting values, terminal directories with and without their closing
// separator, Cyrillic paths, and a terminal that announces a 2 GB file and
// sends a few bytes. Each case ends in a coded message or the correct result,
// and the process's peak memory grows by a bounded amount.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "addin/dispatch.hpp"
#include "base/messages.hpp"
#include "addin/names.hpp"
#include "base/settings.hpp"
#include "base/temp_dir.hpp"
#include "catalogue/article_import.hpp"
#include "catalogue/catalogue_database.hpp"
#include "link/application_version.hpp"
#include "link/framing.hpp"
#include "link/messages.hpp"
#include "link/remote_files.hpp"
#include "link/session.hpp"
#include "platform/dialogs.hpp"
#include "platform/utf16.hpp"
#include "selection/selection_database.hpp"
#include "selection/task_upload.hpp"
#include "tests/support/vector_params.hpp"
#include "tests/link/fake_terminal.hpp"
#include "tests/link/socket_pair.hpp"

namespace vtsd {
namespace {

const TerminalLocation kOrders{"OrderDir", "", "Orders.db"};

namespace fs = std::filesystem;

// Peak resident memory of the process so far, in MiB.
long PeakMiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

// The text of the DriverError `f` raised, "" when it returned.
std::string FailureOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const DriverError& e) {
    return e.text();
  }
  return std::string();
}

bool Coded(const std::string& text) { return text.size() > 1 && CodeOfMark(text) >= 0; }

class NoDialogs : public platform::DialogProvider {
 public:
  platform::BoxAnswer ShowMessageBox(const platform::MessageBoxRequest&, platform::BoxCloser*) override {
    return platform::BoxAnswer::No;
  }
  platform::SelectionWindowEvent WaitSelectionWindow(const platform::SelectionWindowRequest&) override {
    return {};
  }
};

platform::LocalDateTimeText FixedClock() { return {"10.12.2026", "10:10:10"}; }

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::English);
    char dir[] = "/tmp/vtsd-hostile-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    base_ = dir;
    previous_temp_ = TempDir();
    SetTempDir(base_ + "/");
    platform::InstallDialogProvider(&dialogs_);
  }
  void TearDown() override {
    SetExchangeTimeLimitMs(kDefaultExchangeTimeLimitMs);
    platform::InstallDialogProvider(nullptr);
    SetTempDir(previous_temp_);
    std::error_code ignored;
    fs::remove_all(base_, ignored);
    ConnectionSettings() = ConnectionSettingsRecord{};
  }

  std::string base_, previous_temp_;
  NoDialogs dialogs_;
};

std::string BillionLaughs() {
  std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE Table [\n<!ENTITY l0 \"lol\">\n";
  for (int i = 1; i <= 9; ++i) {
    xml += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) xml += "&l" + std::to_string(i - 1) + ";";
    xml += "\">\n";
  }
  return xml + "]>\n<Table PodborName=\"&l9;\"><Record Articule=\"&l9;\" Name=\"&l9;\" Quantity=\"1\"/></Table>";
}

std::string MillionAttributes() {
  std::string xml = "<Table PodborName=\"Wide\"><Record Articule=\"1\"";
  xml.reserve(16 << 20);
  for (int i = 0; i < 1000000; ++i) xml += " a" + std::to_string(i) + "=\"1\"";
  return xml + "/></Table>";
}

std::string HugeValues() {
  const std::string big(6 << 20, 'x');
  return "<Table PodborName=\"" + big + "\"><Record Articule=\"" + big + "\" Name=\"" + big +
         "\" Quantity=\"2\"/></Table>";
}

std::string WithNul() {
  std::string xml = "<Table PodborName=\"Nul\"><Record Articule=\"46";
  xml += '\0';
  xml += "01\" Name=\"Tea\" Quantity=\"1\"/></Table>";
  return xml;
}

// Lone surrogates as a COM host hands them over: converted at the boundary.
std::string WithLoneSurrogates() {
  std::u16string text = u"<Table PodborName=\"S";
  text += char16_t(0xD800);
  text += u"\"><Record Articule=\"A";
  text += char16_t(0xDC00);
  text += u"\" Quantity=\"1\"/></Table>";
  return platform::Utf8FromUtf16(text);
}

struct XmlCase {
  const char* name;
  std::string (*make)();
  long memory_bound_mib;
};

const XmlCase kXmlCases[] = {
    {"DOCTYPE with entity expansion", BillionLaughs, 64},
    {"a million attributes on one record", MillionAttributes, 1024},
    {"attribute values of 6 MB", HugeValues, 512},
    {"NUL inside an attribute", WithNul, 64},
    {"lone UTF-16 surrogates", WithLoneSurrogates, 64},
};

TEST_F(HostileInput, ArticleImportEndsCodedOrImports) {
  for (const XmlCase& c : kXmlCases) {
    SCOPED_TRACE(c.name);
    const std::string xml = c.make();
    ASSERT_TRUE(CreateCatalogueDatabase());
    const long before = PeakMiB();
    const std::string failure = FailureOf([&] { ImportArticleTable(xml); });
    if (!failure.empty()) {
      EXPECT_TRUE(Coded(failure)) << failure.substr(0, 200);
    }
    EXPECT_LE(PeakMiB() - before, c.memory_bound_mib);
  }
}

TEST_F(HostileInput, TaskParseEndsWithAMessageOrATask) {
  for (const XmlCase& c : kXmlCases) {
    SCOPED_TRACE(c.name);
    const std::string xml = c.make();
    ASSERT_TRUE(CreateSelectionDatabase());
    const long before = PeakMiB();
    bool added = false;
    const std::string failure = FailureOf([&] { added = AddSelectionTask(xml, "Podbor.db", FixedClock); });
    EXPECT_TRUE(added || !failure.empty());
    EXPECT_LE(PeakMiB() - before, c.memory_bound_mib);
  }
}

// Entities are never expanded: the text stays as short as it was written.
TEST_F(HostileInput, EntitiesAreNotExpanded) {
  ASSERT_TRUE(CreateSelectionDatabase());
  const std::string failure = FailureOf([&] { AddSelectionTask(BillionLaughs(), "Podbor.db", FixedClock); });
  if (failure.empty()) {
    EXPECT_LT(fs::file_size(TempPath("Podbor.db")), 1u << 20);
  }
}

Value SetParameter(const std::string& name, const std::string& value) {
  test::VectorParams params({Value::Text(name), Value::Text(value)});
  Value ret = Value::Int(-1);
  SetReportedErrorText(" ");
  CallDriverMethod(kSetParameter, ret, params);
  return ret;
}

// A number setting with a NUL or a lone surrogate is refused whole: the part
// before the NUL is not taken as the setting.
TEST_F(HostileInput, NumberSettingsWithNulOrSurrogatesAreRefused) {
  const std::string nul(1, '\0');
  const struct {
    const char* name;
    std::string value;
  } cases[] = {
      {"propPortNumber", "80" + nul + "80"},
      {"propPortNumber", "8080" + nul},
      {"propTimeOut", "5" + nul},
      {"propTimeOut", platform::Utf8FromUtf16(u"5\xD800")},
      {"propPortNumber", platform::Utf8FromUtf16(u"\xDC00" u"8080")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(c.value.size()) + " bytes");
    ConnectionSettings() = ConnectionSettingsRecord{};
    EXPECT_EQ(SetParameter(c.name, c.value), Value::Int(0));
    EXPECT_EQ(CodeOfMark(GetReportedErrorText()), 8) << GetReportedErrorText();
    EXPECT_EQ(ConnectionSettings().PortNumber, 0);
    EXPECT_EQ(ConnectionSettings().TimeOut, -1);
  }
}

// An address text is kept whole when it contains an address somewhere, so a
// NUL or a lone surrogate can reach the listener. Such a text is no address:
// Open fails with the message that names the address setting instead of
// listening on every interface or on the part before the NUL.
TEST_F(HostileInput, AddressTextsThatAreNoAddressDoNotListen) {
  const std::string nul(1, '\0');
  const std::string cases[] = {
      nul + "127.0.0.1",
      "127.0.0.1" + nul + "9",
      platform::Utf8FromUtf16(u"127.0.0.1\xD800"),
      "server 127.0.0.1",
  };
  for (const std::string& address : cases) {
    SCOPED_TRACE(std::to_string(address.size()) + " bytes");
    ConnectionSettings() = ConnectionSettingsRecord{};
    ASSERT_EQ(SetParameter("propIpAdress", address), Value::Int(1)) << GetReportedErrorText();
    EXPECT_EQ(ConnectionSettings().IpAddress, address);
    ConnectionSettings().PortNumber = 40000 + static_cast<uint16_t>(address.size());
    ConnectionSettings().TimeOut = 1;
    test::VectorParams params({Value()});
    Value ret = Value::Int(-1);
    SetReportedErrorText(" ");
    CallDriverMethod(kOpen, ret, params);
    EXPECT_EQ(ret, Value::Int(0));
    EXPECT_EQ(GetReportedErrorText(), link_text::kAddressNotIPv4.en);
  }
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::string ReadLocal(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The order directory as the terminal names it, with or without its closing
// separator and in Cyrillic; the local side in a Cyrillic directory too.
TEST_F(HostileInput, TerminalDirectoriesWithAndWithoutSeparatorAndCyrillic) {
  const std::string local = base_ + "/Обмен ТСД/";
  fs::create_directories(local);
  SetTempDir(local);
  const struct {
    const char* order_dir;
    const char* expected_path;
  } cases[] = {
      {"\\Merxa5\\Order\\", "\\Merxa5\\Order\\Orders.db"},
      {"\\Merxa5\\Order", "\\Merxa5\\Order\\Orders.db"},
      {"\\Мерха\\Заказы\\", "\\Мерха\\Заказы\\Orders.db"},
      {"\\Мерха\\Заказы", "\\Мерха\\Заказы\\Orders.db"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.order_dir);
    testing::FakeTerminal terminal;
    terminal.values["OrderDir"] = c.order_dir;
    terminal.PutFile(c.expected_path, Bytes("orders of the day"));
    testing::SocketPair pair;
    ASSERT_TRUE(pair.ok());
    terminal.Serve(pair.peer.release());
    Session().End();
    Session().Adopt(pair.driver.release());
    EXPECT_EQ(FailureOf([&] { DownloadDatabaseFile(Session(), kOrders, "Orders.db"); }), "");
    EXPECT_EQ(ReadLocal(TempPath("Orders.db")), "orders of the day");
    terminal.Stop();
  }
}

// A terminal that announces a 2 GB file and sends a short stream: the
// download fails with a coded message, allocates nothing near the announced
// size and leaves no local file open.
TEST_F(HostileInput, AnnouncedTwoGigabytesWithAShortStream) {
  SetExchangeTimeLimitMs(500);
  testing::FakeTerminal terminal;
  terminal.PutFile("\\Merxa5\\Order\\Orders.db", Bytes(std::string(300, 'o')));
  terminal.scripted["LengthFile"] = {testing::NumberReply(0x7FFFFFFF)};
  testing::SocketPair pair;
  ASSERT_TRUE(pair.ok());
  terminal.Serve(pair.peer.release());
  Session().End();
  Session().Adopt(pair.driver.release());
  const long before = PeakMiB();
  const std::string failure = FailureOf([&] { DownloadDatabaseFile(Session(), kOrders, "Orders.db"); });
  EXPECT_TRUE(Coded(failure)) << failure;
  EXPECT_LE(PeakMiB() - before, 64);
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = fs::read_symlink(entry.path(), ec).string();
    EXPECT_NE(target.rfind(base_, 0), 0u) << "left open: " << target;
  }
  terminal.Stop();
}

}  // namespace
}  // namespace vtsd
