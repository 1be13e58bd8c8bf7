#include "catalogue/article_import.hpp"

#include <sqlite3.h>

#include "catalogue/catalogue_database.hpp"
#include "store/local_database.hpp"
#include "store/xml_table.hpp"
#include "tests/support/scratch_test.hpp"

namespace vtsd {
namespace {

using testing::DatabaseView;
using testing::RaisedText;
using testing::Row;

const char* const kNotXml = "5XML не валидный, проверьте параметр XmlТаблица.";
const char* const kOpenFailed = "5Ошибка открытия БД при записи данных.";
const char* const kInsertFailed = "5Ошибка при заполнение базы данных,не выполнился инсерт.";

// A record element with attributes a1="v1" ... an="vn".
std::string Record(int attributes, const std::string& prefix = "v") {
  std::string record = "<Record";
  for (int i = 1; i <= attributes; ++i) {
    record += " a" + std::to_string(i) + "=\"" + prefix + std::to_string(i) + "\"";
  }
  return record + "/>";
}

std::string Table(const std::string& records) { return "<Table>" + records + "</Table>"; }

class ArticleImportTest : public testing::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    ASSERT_TRUE(CreateCatalogueDatabase());
  }
  std::vector<Row> Articules() {
    DatabaseView view(PathOf("Merxa.db"));
    return view.Rows("select * from Articule order by N");
  }
  std::string Count() {
    DatabaseView view(PathOf("Merxa.db"));
    return view.Scalar("select count(*) from Articule");
  }
  static void ExpectState(int highest, bool packages, int coefficient_column) {
    const UploadState& state = CatalogueUploadState();
    EXPECT_EQ(state.HighestFieldIndex, highest);
    EXPECT_EQ(state.PackagesPresent, packages);
    EXPECT_EQ(state.CoefficientColumn, coefficient_column);
  }
};

TEST_F(ArticleImportTest, AttributesFillColumnsByPosition) {
  ASSERT_TRUE(ImportArticleTable(Table(Record(1) + Record(3) + Record(15))));
  const std::vector<Row> rows = Articules();
  ASSERT_EQ(rows.size(), 3u);
  // N, Articule, Field_2 ... Field_15
  Row one{"1", "v1"};
  one.resize(16);
  Row three{"2", "v1", "v2", "v3"};
  three.resize(16);
  Row fifteen{"3"};
  for (int i = 1; i <= 15; ++i) fifteen.push_back("v" + std::to_string(i));
  EXPECT_EQ(rows[0], one);
  EXPECT_EQ(rows[1], three);
  EXPECT_EQ(rows[2], fifteen);
  ExpectState(14, false, 0);
}

TEST_F(ArticleImportTest, AttributeNamesDoNotChooseColumns) {
  ASSERT_TRUE(ImportArticleTable(Table(
      "<Record Name=\"Чай\" Articule=\"K12\"/>"
      "<Record Articule=\"K13\" Field_5=\"x\"/>")));
  const std::vector<Row> rows = Articules();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], "Чай");
  EXPECT_EQ(rows[0][2], "K12");
  EXPECT_EQ(rows[1][1], "K13");
  EXPECT_EQ(rows[1][2], "x");
  EXPECT_EQ(rows[1][5], std::nullopt);
}

TEST_F(ArticleImportTest, ValuesAreStoredUnchanged) {
  const std::string long_value(100000, 'x');
  const std::vector<std::string> values = {
      "O'Neil",
      "''",
      "Tom & Jerry <\"best\">",
      "Молоко «Простоквашино» 3,2%",
      "  padded  ",
      "",
      "tab\there\nline\rreturn\x01\x1f",
      "'); drop table Articule; --",
      long_value,
  };
  std::string records;
  for (const std::string& value : values) {
    std::string escaped;
    for (char c : value) {
      switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\t': escaped += "&#9;"; break;
        case '\n': escaped += "&#10;"; break;
        case '\r': escaped += "&#13;"; break;
        case '\x01': escaped += "&#1;"; break;
        case '\x1f': escaped += "&#31;"; break;
        default: escaped += c;
      }
    }
    records += "<Record Articule=\"K\" Name=\"" + escaped + "\"/>";
  }
  ASSERT_TRUE(ImportArticleTable(Table(records)));
  DatabaseView view(PathOf("Merxa.db"));
  const std::vector<std::string> stored = view.Column("select Field_2 from Articule order by N");
  ASSERT_EQ(stored.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(stored[i], values[i]) << i;
}

// The rows a package gives through the import's bound values are those that
// one text statement per record, each value a quoted literal, gives: the
// same values in the same storage classes, byte for byte.
TEST_F(ArticleImportTest, BoundValuesStoreWhatTextStatementsStore) {
  const std::string package =
      "<Table>"
      "<Record Articule=\"007\" Name=\"O'Neil &amp; Sons\" Unit=\"\" Price=\"12.50\"/>"
      "<Record Articule=\"1e5\" Name=\"Чай &quot;Лотос&quot;\" Unit=\" 42 \" Price=\"-0\" Quantity=\"NULL\"/>"
      "<Record Articule=\"4601\"/>"
      "<Record Articule=\"x&#10;y&#9;z\" Name=\"\xF0\x9F\x8D\xB5\" Unit=\"0x1F\" Price=\"1,5\" Quantity=\"+3\""
      " a6=\"6\" a7=\"7\" a8=\"8\" a9=\"9\" a10=\"10\" a11=\"11\" a12=\"12\" a13=\"13\" a14=\"14\" a15=\"''\"/>"
      "<Record/>"
      "<Record Articule=\"9\" Name=\"9.0\" Unit=\"9e0\"/>"
      "</Table>";
  // The reference catalogue: an empty copy of the new file, filled by text.
  CopyLocalDatabase("Merxa.db", "Reference.db", Msg{"5copy", "5copy"});
  {
    XmlTable table;
    ASSERT_TRUE(table.Load(package));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(PathOf("Reference.db").c_str(), &db), SQLITE_OK);
    table.ForEachRecord([&](const XmlRecord& record) {
      if (!record.HasAttributes()) return;
      std::string columns = "insert into Articule (";
      std::string values = ") values(";
      record.ForEachAttribute([&](size_t position, const char*, const char* value) {
        columns += position == 1 ? std::string("Articule") : ",Field_" + std::to_string(position);
        if (position > 1) values += ",";
        AppendSqlText(values, value);
      });
      const std::string sql = columns + values + ")";
      EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    });
    sqlite3_close(db);
  }
  ASSERT_TRUE(ImportArticleTable(package));

  std::string query = "select N";
  for (const char* column : {"Articule", "Field_2", "Field_3", "Field_4", "Field_5", "Field_6", "Field_7",
                             "Field_8", "Field_9", "Field_10", "Field_11", "Field_12", "Field_13", "Field_14",
                             "Field_15"}) {
    query += std::string(",typeof(") + column + "),hex(" + column + ")";
  }
  query += " from Articule order by N";
  const std::vector<Row> imported = DatabaseView(PathOf("Merxa.db")).Rows(query);
  const std::vector<Row> reference = DatabaseView(PathOf("Reference.db")).Rows(query);
  ASSERT_EQ(imported.size(), 5u);
  EXPECT_EQ(imported, reference);
  // Nothing came in as a number, and absent attributes stay NULL.
  for (const Row& row : imported) {
    EXPECT_EQ(row[1], std::optional<std::string>("text"));
  }
  EXPECT_EQ(imported[2][3], std::optional<std::string>("null"));
}

TEST_F(ArticleImportTest, StateFollowsTheRecordsOfEveryPackage) {
  // Coefficient marks its position; a differently cased name does not.
  ASSERT_TRUE(ImportArticleTable(Table(
      "<Record A=\"1\" N=\"n\" coefficient=\"2\"/>"
      "<Record A=\"2\" N=\"n\" U=\"u\" Coefficient=\"6\"/>"
      "<Record A=\"3\"/>")));
  ExpectState(3, true, 4);
  // A later Coefficient wins; a narrower package does not lower the index.
  ASSERT_TRUE(ImportArticleTable(Table("<Record A=\"4\" Coefficient=\"1\"/>")));
  ExpectState(3, true, 2);
  ASSERT_TRUE(ImportArticleTable(Table("<Record A=\"5\" B=\"\" C=\"\" D=\"\" E=\"\" F=\"\"/>")));
  ExpectState(5, true, 2);
  EXPECT_EQ(Count(), "5");
}

TEST_F(ArticleImportTest, PackagesAppendAndNumberingContinues) {
  ASSERT_TRUE(ImportArticleTable(Table(Record(2, "first") + Record(2, "first"))));
  ASSERT_TRUE(ImportArticleTable(Table(Record(2, "second"))));
  DatabaseView view(PathOf("Merxa.db"));
  EXPECT_EQ(view.Rows("select N, Articule from Articule order by N"),
            (std::vector<Row>{{"1", "first1"}, {"2", "first1"}, {"3", "second1"}}));
}

TEST_F(ArticleImportTest, FailedPackageLeavesNeitherRowsNorState) {
  ASSERT_TRUE(ImportArticleTable(Table(Record(3) + "<Record A=\"p\" B=\"b\" Coefficient=\"6\"/>")));
  ExpectState(2, true, 3);
  // The third record names a sixteenth column, which does not exist.
  const std::string failing =
      Table(Record(2) + "<Record A=\"x\" Coefficient=\"2\" C=\"c\" D=\"d\"/>" + Record(16) + Record(1));
  EXPECT_EQ(RaisedText([&] { ImportArticleTable(failing); }), kInsertFailed);
  EXPECT_EQ(Count(), "2");
  ExpectState(2, true, 3);
  // The upload goes on as if the failed package had never come.
  ASSERT_TRUE(ImportArticleTable(Table(Record(1))));
  DatabaseView view(PathOf("Merxa.db"));
  EXPECT_EQ(view.Column("select N from Articule order by N"), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(ArticleImportTest, RecordsWithoutAttributesAreSkipped) {
  ASSERT_TRUE(ImportArticleTable(Table("<Record A=\"one\"/><Record/><Record>text</Record><Record A=\"two\"/>")));
  DatabaseView view(PathOf("Merxa.db"));
  EXPECT_EQ(view.Column("select Articule from Articule order by N"), (std::vector<std::string>{"one", "two"}));
}

TEST_F(ArticleImportTest, PackagesWithoutRecordsInsertNothing) {
  for (const char* text : {"<Table/>", "<Table><Row A=\"1\"/></Table>", "<Articles><Record A=\"1\"/></Articles>",
                           "<Table><Group><Record A=\"1\"/></Group></Table>"}) {
    EXPECT_TRUE(ImportArticleTable(text)) << text;
  }
  EXPECT_EQ(Count(), "0");
  ExpectState(0, false, 0);
}

TEST_F(ArticleImportTest, TextThatIsNotXmlRaisesTheXmlMessage) {
  ASSERT_TRUE(ImportArticleTable(Table(Record(2))));
  for (const char* text : {"Record", "<Table><Record A=\"1\"></Table>", "<Table><Record A='1'/>",
                           "<!DOCTYPE Table [<!ENTITY e \"x\">]><Table><Record A=\"&e;\"/></Table>"}) {
    EXPECT_EQ(RaisedText([&] { ImportArticleTable(text); }), kNotXml) << text;
  }
  EXPECT_EQ(Count(), "1");
  ExpectState(1, false, 0);
}

TEST_F(ArticleImportTest, CatalogueThatCannotBeOpenedRaisesTheOpenMessage) {
  std::filesystem::remove(dir_ / "Merxa.db");
  std::filesystem::create_directory(dir_ / "Merxa.db");
  EXPECT_EQ(RaisedText([] { ImportArticleTable(Table(Record(2))); }), kOpenFailed);
  ExpectState(0, false, 0);
}

TEST_F(ArticleImportTest, MessagesInEnglish) {
  SetMessageLanguage(Language::English);
  EXPECT_EQ(RaisedText([] { ImportArticleTable("<Table>"); }), "5Error while unloading table, try again.");
  EXPECT_EQ(RaisedText([] { ImportArticleTable(Table(Record(16))); }), "5Error while unloading table, try again.");
}

}  // namespace
}  // namespace vtsd
