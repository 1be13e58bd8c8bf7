#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "selection/document_download.hpp"
#include "selection/selection_window.hpp"
#include "tests/selection/fixtures.hpp"

namespace vtsd {
namespace {

using test::Db;
using test::RaisedText;

const std::string kSep = kChoiceSeparator;

TEST(DocumentXmlPieces, AttributeValuesAreQuotedAndEscaped) {
  const struct {
    const char* value;
    const char* written;
  } cases[] = {
      {"", "''"},
      {"4601234567890", "'4601234567890'"},
      {"a&b", "'a&amp;b'"},
      {"<x>", "'&lt;x>'"},
      {"it's", "'it&apos;s'"},
      {"\"q\"", "'\"q\"'"},
      {"&&''<<", "'&amp;&amp;&apos;&apos;&lt;&lt;'"},
      {"Молоко 3,2%", "'Молоко 3,2%'"},
      {"a\tb\r\nc", "'a&#9;b&#13;&#10;c'"},
      {"x\x01\x1Fy\x7F", "'x\xEF\xBF\xBD\xEF\xBF\xBDy\x7F'"},
      {"\xED\xA0\x80|\xFF|\xC3|\xEF\xBF\xBE|\xF0\x9F\x98\x80", "'\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xF0\x9F\x98\x80'"},
  };
  for (const auto& c : cases) {
    std::string out = "=";
    AppendXmlAttributeValue(out, c.value);
    EXPECT_EQ(out, std::string("=") + c.written) << c.value;
  }
}

TEST(DocumentXmlPieces, ChosenTextSplitsOnSeparator) {
  const struct {
    std::string text;
    std::vector<std::string> names;
  } cases[] = {
      {"", {}},
      {"A" + kSep, {"A"}},
      {"A" + kSep + "B" + kSep, {"A", "B"}},
      {"A" + kSep + kSep, {"A", ""}},
      {"A" + kSep + "rest", {"A"}},
      {"no separator", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitChosenText(c.text), c.names) << c.text;
}

TEST(DocumentXmlPieces, SourceLinesMapToFilesInEitherLanguage) {
  EXPECT_EQ(SourceFileForChoice("Orders"), "Orders.db");
  EXPECT_EQ(SourceFileForChoice("Накладные"), "Orders.db");
  EXPECT_EQ(SourceFileForChoice("Podbor"), "Podbor.db");
  EXPECT_EQ(SourceFileForChoice("Подбор"), "Podbor.db");
  EXPECT_EQ(SourceFileForChoice("podbor"), "");
  EXPECT_EQ(SourceFileForChoice(""), "");
  SetMessageLanguage(Language::English);
  EXPECT_EQ(SourceChoices(), (std::vector<std::string>{"Orders", "Podbor"}));
  SetMessageLanguage(Language::Russian);
  EXPECT_EQ(SourceChoices(), (std::vector<std::string>{"Накладные", "Подбор"}));
}

// An "Orders.db" as the terminal writes it: Registry plus one order_ table
// per document.
class DocumentFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::English);
    Db db(scratch.File("Orders.db"));
    db.Exec(
        "CREATE TABLE Registry (N INTEGER PRIMARY KEY AUTOINCREMENT,Name TEXT,RealName TEXT,Date TEXT);"
        "INSERT INTO Registry(Name,RealName) VALUES ('Order 2','002');"
        "INSERT INTO Registry(Name,RealName) VALUES ('Order 1','001');"
        "INSERT INTO Registry(Name,RealName) VALUES ('Empty','003');"
        "INSERT INTO Registry(Name,RealName) VALUES ('Twice','004');"
        "INSERT INTO Registry(Name,RealName) VALUES ('Twice','005');"
        "INSERT INTO Registry(Name,RealName) VALUES ('No table','006');"
        "CREATE TABLE order_001 (N INTEGER PRIMARY KEY,Articule TEXT,Value TEXT,Date TEXT);"
        "INSERT INTO order_001(Articule,Value) VALUES ('111','1');"
        "INSERT INTO order_001(Articule,Value) VALUES (NULL,'2.5');"
        "CREATE TABLE order_002 (N INTEGER PRIMARY KEY,Articule TEXT,Value TEXT);"
        "INSERT INTO order_002(Articule,Value) VALUES ('222',NULL);"
        "CREATE TABLE order_003 (N INTEGER PRIMARY KEY,Articule TEXT,Value TEXT);"
        "CREATE TABLE order_004 (N INTEGER PRIMARY KEY,Articule TEXT,Value TEXT);"
        "CREATE TABLE order_005 (N INTEGER PRIMARY KEY,Articule TEXT,Value TEXT);");
  }
  void TearDown() override { SetMessageLanguage(Language::Russian); }
  test::ScratchTempDir scratch;
};

TEST_F(DocumentFileTest, NamesComeInRegistryOrder) {
  DocumentNames() = {"left over"};
  ListDocumentNames("Orders.db");
  EXPECT_EQ(DocumentNames(),
            (std::vector<std::string>{"Order 2", "Order 1", "Empty", "Twice", "Twice", "No table"}));
}

TEST_F(DocumentFileTest, XmlHoldsChosenDocumentsInChosenOrderByteForByte) {
  BuildDocumentXml("Orders.db", "Order 1" + kSep + "Empty" + kSep + "Order 2" + kSep);
  EXPECT_EQ(DocumentNames(), (std::vector<std::string>{"Order 1", "Empty", "Order 2"}));
  EXPECT_EQ(DocumentXml(),
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n"
            "<Table>\r\n"
            "<Record BarCode='111' Quantity='1'/>\r\n"
            "<Record BarCode='' Quantity='2.5'/>\r\n"
            "<Record BarCode='222' Quantity=''/>\r\n"
            "</Table>");
}

TEST_F(DocumentFileTest, EmptyDocumentsGiveNoRecord) {
  BuildDocumentXml("Orders.db", "Empty" + kSep);
  EXPECT_EQ(DocumentXml(), "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Table>\r\n</Table>");
}

TEST_F(DocumentFileTest, EscapedValuesParseBackToTheStoredTexts) {
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"a&b<c>'d'\"e\"", "1 & 2"}, {"Сыр 'Российский'", "<5>"}, {"&amp;", "'"}};
  {
    Db db(scratch.File("Orders.db"));
    for (const auto& line : lines) {
      std::string a = line.first, v = line.second;
      for (auto* s : {&a, &v}) {
        for (size_t p = s->find('\''); p != std::string::npos; p = s->find('\'', p + 2)) s->insert(p, "'");
      }
      db.Exec("INSERT INTO order_003(Articule,Value) VALUES ('" + a + "','" + v + "')");
    }
  }
  BuildDocumentXml("Orders.db", "Empty" + kSep);

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(DocumentXml().c_str()));
  std::vector<std::pair<std::string, std::string>> parsed;
  for (pugi::xml_node r : doc.child("Table").children("Record")) {
    parsed.emplace_back(r.attribute("BarCode").value(), r.attribute("Quantity").value());
  }
  EXPECT_EQ(parsed, lines);
}

// The terminal's data may hold any control character: the document is
// well-formed XML 1.0 all the same, tab and line ends arrive unchanged and
// what XML cannot carry arrives as U+FFFD.
TEST_F(DocumentFileTest, EveryControlCharacterGivesWellFormedXml) {
  std::string all;
  for (int c = 1; c < 0x20; ++c) all += static_cast<char>(c);
  {
    Db db(scratch.File("Orders.db"));
    db.Exec("INSERT INTO order_003(Articule,Value) VALUES (char(" + [] {
      std::string list;
      for (int c = 1; c < 0x20; ++c) list += (c > 1 ? "," : "") + std::to_string(c);
      return list;
    }() + "), CAST(X'41EDA0805A' AS TEXT))");
  }
  BuildDocumentXml("Orders.db", "Empty" + kSep);
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed = doc.load_string(DocumentXml().c_str());
  ASSERT_TRUE(parsed) << parsed.description() << "\n" << DocumentXml();
  const pugi::xml_node record = doc.child("Table").child("Record");
  std::string expected;
  for (int c = 1; c < 0x20; ++c) expected += c == '\t' || c == '\n' || c == '\r' ? std::string(1, static_cast<char>(c))
                                                                                  : std::string("\xEF\xBF\xBD");
  EXPECT_EQ(std::string(record.attribute("BarCode").value()), expected);
  EXPECT_EQ(std::string(record.attribute("Quantity").value()), "A\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDZ");
}

TEST_F(DocumentFileTest, FailuresEmptyTheXml) {
  const struct {
    const char* file;
    std::string chosen;
    Language language;
    const char* message;
  } cases[] = {
      {"Orders.db", "Twice" + kSep, Language::English,
       "№At TSD There are two identical job, 'Twice'. Such a situation is not possible, remove one of the tasks"},
      {"Orders.db", "Twice" + kSep, Language::Russian,
       "№На ТСД Существует два одинаковых задания, 'Twice'. Такая ситуация невозможна, удалите одно из заданий"},
      {"Orders.db", "Order 1" + kSep + "Unknown" + kSep, Language::English,
       "№An error occurred while retrieving data from SQL database"},
      {"Orders.db", "No table" + kSep, Language::Russian, "№Ошибка при получение данных из SQL бд"},
      {"Podbor.db", "Order 1" + kSep, Language::English,
       "№Error while fetching data in the database,Podbor.db Файла не существует"},
      {"Podbor.db", "Order 1" + kSep, Language::Russian,
       "№Ошибка при выборке данных в базе,Podbor.db Файла не существует"},
  };
  for (const auto& c : cases) {
    SetMessageLanguage(c.language);
    DocumentXml() = "stale";
    EXPECT_EQ(RaisedText([&] { BuildDocumentXml(c.file, c.chosen); }), c.message) << c.chosen;
    EXPECT_EQ(DocumentXml(), "");
  }
}

TEST_F(DocumentFileTest, FileThatIsNoDatabaseGivesOpenMessage) {
  {
    std::FILE* f = std::fopen(scratch.File("Podbor.db").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("this is not an SQLite file, only some text long enough to be read as a header......", f);
    std::fclose(f);
  }
  EXPECT_EQ(RaisedText([] { ListDocumentNames("Podbor.db"); }), "№error opening Podbor.db recording data");
  SetMessageLanguage(Language::Russian);
  EXPECT_EQ(RaisedText([] { ListDocumentNames("Podbor.db"); }), "№Ошибка открытия Podbor.db при записи данных");
}

}  // namespace
}  // namespace vtsd
