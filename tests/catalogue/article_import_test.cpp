#include "catalogue/article_import.hpp"

#include "catalogue/catalogue_database.hpp"
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
