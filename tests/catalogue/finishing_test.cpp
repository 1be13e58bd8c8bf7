// The finishing steps on real SQLite files in a fresh TempDir: the column
// squeeze with its captions, the package barcodes and the caption settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "catalogue/catalogue_database.hpp"
#include "catalogue/finishing.hpp"
#include "store/local_database.hpp"
#include "catalogue/upload_state.hpp"
#include "tests/support/raised_text.hpp"
#include "tests/support/sqlite_file.hpp"

namespace vtsd {
namespace {

using test::Cell;
using test::RaisedText;
using test::Row;
using test::ScratchTempDir;
using test::SqliteFile;

std::string Quote(const Cell& cell) {
  if (!cell) return "NULL";
  std::string out = "'";
  for (char c : *cell) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

// A fresh catalogue in a fresh TempDir, with the upload state as the import
// would leave it for the rows a test inserts.
class CatalogueFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::Russian);
    CreateCatalogueDatabase();
    CatalogueUploadState().HighestFieldIndex = 0;
    CatalogueUploadState().PackagesPresent = false;
    CatalogueUploadState().CoefficientColumn = 0;
    FieldCaptions() = FieldCaptionTable{};
  }

  std::string CataloguePath() const { return dir_.File("Merxa.db"); }

  // Appends rows to Articule; each row is Articule, Field_2, Field_3, ... and
  // raises HighestFieldIndex as the import does for its attribute count.
  void InsertArticles(const std::vector<Row>& rows) {
    SqliteFile file(CataloguePath());
    file.Exec("BEGIN");
    for (const Row& row : rows) {
      std::string columns = "Articule";
      std::string values = Quote(row[0]);
      for (size_t i = 1; i < row.size(); ++i) {
        columns += ",Field_" + std::to_string(i + 1);
        values += "," + Quote(row[i]);
      }
      file.Exec("insert into Articule (" + columns + ") values(" + values + ")");
      int& highest = CatalogueUploadState().HighestFieldIndex;
      highest = std::max(highest, static_cast<int>(row.size()) - 1);
    }
    file.Exec("COMMIT");
  }

  // Articule's rows: N, Articule, Field_2 ... Field_15.
  std::vector<Row> Articles() {
    SqliteFile file(CataloguePath());
    return file.Rows("select * from Articule order by N");
  }

  std::vector<Row> Barcodes() {
    SqliteFile file(CataloguePath());
    return file.Rows("select Barcode, Articule, Value from Barcodes order by N");
  }

  std::vector<Row> IndexNames() {
    SqliteFile file(CataloguePath());
    return file.Rows("select name from sqlite_master where type='index' order by name");
  }

  // Replaces a file by bytes that are no SQLite database.
  void Spoil(const std::string& path) {
    std::filesystem::remove(path);
    std::ofstream(path) << "this is not a database file, just text long enough to be read as a header";
  }

  ScratchTempDir dir_;
};

Row Expect(std::vector<const char*> values) {
  Row row;
  for (const char* v : values) row.push_back(v ? Cell(v) : Cell());
  return row;
}

// ---- Column squeeze ----------------------------------------------------------

TEST(ColumnSqueezeStatement, MovesKeptColumnsLeftInOrder) {
  EXPECT_EQ(ColumnSqueezeStatement({2, 3, 5}),
            "INSERT INTO TimeTable (Articule,Field_2,Field_3,Field_4) SELECT Articule,Field_2,Field_3,Field_5 "
            "FROM Articule");
  EXPECT_EQ(ColumnSqueezeStatement({}), "INSERT INTO TimeTable (Articule) SELECT Articule FROM Articule");
  EXPECT_EQ(ColumnSqueezeStatement({4, 15}),
            "INSERT INTO TimeTable (Articule,Field_2,Field_3) SELECT Articule,Field_4,Field_15 FROM Articule");
}

TEST_F(CatalogueFiles, SqueezeMovesUsedColumnsLeftAndRenumbersRows) {
  // Positions 2..5; position 4 is empty (NULL or empty text) in every record.
  InsertArticles({{"A1", "Tea", "pcs", "", "S1"},
                  {"A2", "Milk", "l", std::nullopt, "S2"},
                  {"A3", "Salt", "kg", "", "S3"}});
  {
    // A gap in N from a deleted row: the rebuild numbers from 1 again.
    SqliteFile file(CataloguePath());
    file.Exec("insert into Articule (Articule) values('gone')");
    file.Exec("delete from Articule where Articule='gone'");
    file.Exec("insert into Articule (Articule,Field_2,Field_3,Field_4,Field_5) values('A4','Rice','kg','','S4')");
  }

  DropEmptyColumns();

  const auto rows = Articles();
  ASSERT_EQ(rows.size(), 4u);
  const std::vector<std::vector<const char*>> expected = {
      {"1", "A1", "Tea", "pcs", "S1"}, {"2", "A2", "Milk", "l", "S2"},
      {"3", "A3", "Salt", "kg", "S3"}, {"4", "A4", "Rice", "kg", "S4"}};
  for (size_t r = 0; r < rows.size(); ++r) {
    ASSERT_EQ(rows[r].size(), 16u) << "Articule keeps all sixteen columns";
    for (size_t c = 0; c < 5; ++c) EXPECT_EQ(rows[r][c], Cell(expected[r][c])) << "row " << r << " column " << c;
    for (size_t c = 5; c < rows[r].size(); ++c) EXPECT_EQ(rows[r][c], Cell()) << "row " << r << " column " << c;
  }

  FieldCaptionTable captions = DefaultFieldCaptions();
  captions[2].clear();  // Field_4, the characteristic, held nothing
  EXPECT_EQ(FieldCaptions(), captions);

  // The rebuilt table has its index again and the work table is gone.
  SqliteFile file(CataloguePath());
  EXPECT_EQ(file.Value("select count(*) from sqlite_master where name='TimeTable'"), Cell("0"));
  EXPECT_EQ(file.Value("select tbl_name from sqlite_master where name='Articule_index_Articule'"),
            Cell("Articule"));
  EXPECT_EQ(IndexNames().size(), 3u);
}

TEST_F(CatalogueFiles, SqueezeDropsColumnsOfEmptyTextsAndKeepsDefaultsBeyondUsedColumns) {
  InsertArticles({{"A1", "", "pcs"}, {"A2", "", "kg"}});

  DropEmptyColumns();

  const auto rows = Articles();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][2], Cell("pcs"));
  EXPECT_EQ(rows[0][3], Cell());
  EXPECT_EQ(rows[1][2], Cell("kg"));
  // Slot 0 (Field_2) emptied; Field_4 ... Field_9 were not in use and keep theirs.
  FieldCaptionTable captions = DefaultFieldCaptions();
  captions[0].clear();
  EXPECT_EQ(FieldCaptions(), captions);
}

TEST_F(CatalogueFiles, SqueezeWithoutFieldColumnsCopiesArticuleAlone) {
  InsertArticles({{"A1"}, {"A2"}});
  ASSERT_EQ(CatalogueUploadState().HighestFieldIndex, 0);

  DropEmptyColumns();

  const auto rows = Articles();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], Expect({"1", "A1", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}));
  EXPECT_EQ(rows[1][1], Cell("A2"));
  EXPECT_EQ(FieldCaptions(), DefaultFieldCaptions());
}

TEST_F(CatalogueFiles, SqueezeRenumbersTheCoefficientColumn) {
  // Nine attributes; Field_3 and Field_5 are empty, the coefficient is Field_9.
  InsertArticles({{"A1", "Tea", "", "c", "", "q", "10", "1", "0"},
                  {"P1", "Tea", "", "c", "", "q", "120", "1", "12"}});
  CatalogueUploadState().PackagesPresent = true;
  CatalogueUploadState().CoefficientColumn = 9;

  DropEmptyColumns();

  EXPECT_TRUE(CatalogueUploadState().PackagesPresent);
  EXPECT_EQ(CatalogueUploadState().CoefficientColumn, 7);
  EXPECT_EQ(Articles()[1][7], Cell("12"));  // Field_7 now holds the coefficient
}

TEST_F(CatalogueFiles, CoefficientColumnWithoutAnyValueLeavesTheUploadWithoutPackages) {
  InsertArticles({{"A1", "Tea", "pcs", ""}, {"P1", "Tea", "box", ""}});
  CatalogueUploadState().PackagesPresent = true;
  CatalogueUploadState().CoefficientColumn = 4;

  DropEmptyColumns();

  EXPECT_FALSE(CatalogueUploadState().PackagesPresent);
  EXPECT_EQ(FieldCaptions()[2], "");
}

TEST_F(CatalogueFiles, CoefficientAsTheKeyAttributeFailsThePackageStep) {
  // "Coefficient" named the first attribute, whose column is Articule: there
  // is no coefficient Field column to look packages up in.
  InsertArticles({{"2", "Tea", "pcs"}});
  CatalogueUploadState().PackagesPresent = true;
  CatalogueUploadState().CoefficientColumn = 1;

  DropEmptyColumns();
  ASSERT_TRUE(CatalogueUploadState().PackagesPresent);
  EXPECT_EQ(RaisedText([] { FillPackageBarcodes(); }),
            "5Ошибка при записи справочника упаковок,ошибка при заполнение таблицы Barcode");
  EXPECT_TRUE(Barcodes().empty());
}

TEST_F(CatalogueFiles, SqueezeWithoutPackagesLeavesTheCoefficientColumnAlone) {
  InsertArticles({{"A1", "", "pcs"}});
  CatalogueUploadState().CoefficientColumn = 3;

  DropEmptyColumns();

  EXPECT_EQ(CatalogueUploadState().CoefficientColumn, 3);
}

TEST_F(CatalogueFiles, FailedSqueezeLeavesFileAndStateUnchanged) {
  InsertArticles({{"A1", "Tea", "", "x"}});
  CatalogueUploadState().PackagesPresent = true;
  CatalogueUploadState().CoefficientColumn = 4;
  // A column number beyond the table makes the emptiness query fail.
  CatalogueUploadState().HighestFieldIndex = 15;

  EXPECT_EQ(RaisedText(DropEmptyColumns), "5Ошибка при удаление пустых полей в БД.");

  const auto rows = Articles();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][3], Cell(""));  // nothing moved
  EXPECT_EQ(rows[0][4], Cell("x"));
  EXPECT_EQ(CatalogueUploadState().CoefficientColumn, 4);
  EXPECT_TRUE(CatalogueUploadState().PackagesPresent);
  SqliteFile file(CataloguePath());
  EXPECT_EQ(file.Value("select count(*) from sqlite_master where name='TimeTable'"), Cell("0"));
}

TEST_F(CatalogueFiles, SqueezeOfAnUnreadableCatalogueRaisesTheOpenMessage) {
  Spoil(CataloguePath());
  EXPECT_EQ(RaisedText(DropEmptyColumns), "5Ошибка открытия БД при записи данных.");
  SetMessageLanguage(Language::English);
  EXPECT_EQ(RaisedText(DropEmptyColumns), "5Error while unloading table, try again.");
}

// ---- Package barcodes ----------------------------------------------------------

struct PackageCase {
  const char* name;
  std::vector<Row> rows;  // Articule, Field_2 (name), Field_3 (coefficient)
  std::vector<Row> barcodes;
};

class PackageBarcodes : public CatalogueFiles, public ::testing::WithParamInterface<PackageCase> {};

TEST_P(PackageBarcodes, WritesOneRowPerPackageWithAUniqueBase) {
  InsertArticles(GetParam().rows);
  CatalogueUploadState().PackagesPresent = true;
  CatalogueUploadState().CoefficientColumn = 3;

  EXPECT_TRUE(FillPackageBarcodes());

  EXPECT_EQ(Barcodes(), GetParam().barcodes);
  // The lookup index lives only inside the step.
  EXPECT_EQ(IndexNames(), (std::vector<Row>{Expect({"Articule_index_Articule"}), Expect({"Articule_index_Barcodes"}),
                                            Expect({"Barcode_index_Barcodes"})}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackageBarcodes,
    ::testing::Values(
        PackageCase{"OneBaseAtZero",
                    {{"B1", "Tea", "0"}, {"P12", "Tea", "12"}},
                    {Expect({"P12", "B1", "12"})}},
        PackageCase{"TwoBasesAtZeroGiveNoneEvenWithOneAtOne",
                    {{"B1", "Tea", "0"}, {"B2", "Tea", "0"}, {"B3", "Tea", "1"}, {"P12", "Tea", "12"}},
                    {}},
        PackageCase{"OnlyOneBaseAtOne",
                    {{"B1", "Tea", "1"}, {"P6", "Tea", "6"}},
                    {Expect({"P6", "B1", "6"})}},
        PackageCase{"TwoBasesAtOneGiveNone",
                    {{"B1", "Tea", "1"}, {"B2", "Tea", "1"}, {"P6", "Tea", "6"}},
                    {}},
        PackageCase{"NoBase", {{"P6", "Tea", "6"}, {"B1", "Coffee", "0"}}, {}},
        PackageCase{"NamesCompareExactly",
                    {{"B1", "tea", "0"}, {"B2", "Tea ", "0"}, {"P6", "Tea", "6"}},
                    {}},
        PackageCase{"CoefficientsCompareAsText",
                    {{"B1", "Tea", "0"},
                     {"P2", "Tea", "2"},
                     {"P10", "Tea", "10"},
                     {"P15", "Tea", "1.5"},
                     {"N1", "Tea", "1"},
                     {"N05", "Tea", "0.5"},
                     {"N02", "Tea", "02"}},
                    {Expect({"P2", "B1", "2"}), Expect({"P10", "B1", "10"}), Expect({"P15", "B1", "1.5"})}},
        PackageCase{"EachNameFindsItsOwnBase",
                    {{"T0", "Tea", "0"},
                     {"C1", "Coffee", "1"},
                     {"PC", "Coffee", "24"},
                     {"PT", "Tea", "12"},
                     {"PX", "O'Neil", "3"},
                     {"X0", "O'Neil", "0"}},
                    {Expect({"PC", "C1", "24"}), Expect({"PT", "T0", "12"}), Expect({"PX", "X0", "3"})}}),
    [](const ::testing::TestParamInfo<PackageCase>& info) { return std::string(info.param.name); });

TEST_F(CatalogueFiles, PackagesUseTheCoefficientColumnTheyAreGiven) {
  // Coefficient in Field_5; Field_3 holds numbers that must not count.
  InsertArticles({{"B1", "Tea", "5", "x", "0"}, {"P1", "Tea", "0", "x", "12"}});
  CatalogueUploadState().PackagesPresent = true;
  CatalogueUploadState().CoefficientColumn = 5;

  FillPackageBarcodes();

  EXPECT_EQ(Barcodes(), std::vector<Row>{Expect({"P1", "B1", "12"})});
}

TEST_F(CatalogueFiles, NullInAReadColumnFailsThePackageStepAndWritesNothing) {
  struct Case {
    const char* name;
    std::vector<Row> rows;
  };
  const Case cases[] = {
      {"package without a name after a good one",
       {{"B1", "Tea", "0"}, {"P1", "Tea", "12"}, {"P2", std::nullopt, "6"}}},
      {"base without a key", {{std::nullopt, "Tea", "0"}, {"P1", "Tea", "12"}}},
      {"package without a key", {{"B1", "Tea", "0"}, {std::nullopt, "Tea", "12"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CreateCatalogueDatabase();
    InsertArticles(c.rows);
    CatalogueUploadState().CoefficientColumn = 3;
    EXPECT_EQ(RaisedText([] { FillPackageBarcodes(); }),
              "5Ошибка при записи справочника упаковок,ошибка при заполнение таблицы Barcode");
    EXPECT_TRUE(Barcodes().empty());
    EXPECT_EQ(IndexNames().size(), 3u);
  }
}

TEST_F(CatalogueFiles, PackageStepMessages) {
  CatalogueUploadState().CoefficientColumn = 3;
  std::filesystem::remove(CataloguePath());
  EXPECT_EQ(RaisedText([] { FillPackageBarcodes(); }),
            "5Ошибка при записи справочника упаковок,файл базы данных Merxa.db отсутствует.");
  SetMessageLanguage(Language::English);
  EXPECT_EQ(RaisedText([] { FillPackageBarcodes(); }),
            "5Error writing directory packages Merxa.db database file is missing.");

  Spoil(CataloguePath());
  EXPECT_EQ(RaisedText([] { FillPackageBarcodes(); }),
            "5Error writing directory packages error when connecting to database Merxa.db.");
  SetMessageLanguage(Language::Russian);
  EXPECT_EQ(RaisedText([] { FillPackageBarcodes(); }),
            "5Ошибка при записи справочника упаковок,ошибка при подключение к базе Merxa.db.");
}

// ---- Field captions in the settings file ---------------------------------------

TEST(SettingsTableName, TakesFirstThirdFourthAndFifthCharacter) {
  EXPECT_EQ(SettingsTableName("5.123"), "Merxa_5_123");
  EXPECT_EQ(SettingsTableName("5.123.9"), "Merxa_5_123");
  EXPECT_EQ(SettingsTableName("5x2y3"), "Merxa_5_2y3");
  EXPECT_EQ(SettingsTableName("5.1"), "");
  EXPECT_EQ(SettingsTableName("5.12"), "");
  EXPECT_EQ(SettingsTableName(""), "");
  // Characters, not bytes: a two-byte letter is one character, and no
  // version of the application holds one, so it names no table.
  EXPECT_EQ(SettingsTableName("5.Ж12"), "");
  EXPECT_EQ(SettingsTableName("5.12.Ж"), "Merxa_5_12.");
  EXPECT_EQ(SettingsTableName("Ж.Ж"), "");
  // The version comes from the terminal: quotes, blanks and statement ends
  // name nothing.
  EXPECT_EQ(SettingsTableName("5.\"1;"), "");
  EXPECT_EQ(SettingsTableName("5. 12"), "");
}

TEST(SettingUpdateStatement, QuotesTableValueAndParameter) {
  EXPECT_EQ(SettingUpdateStatement("Merxa_5_123", "Наименование", "Merxa.FieldName_001"),
            "UPDATE \"Merxa_5_123\" SET value='Наименование' WHERE parameter ='Merxa.FieldName_001'");
  EXPECT_EQ(SettingUpdateStatement("Merxa_5_123", "O'Neil", "p"),
            "UPDATE \"Merxa_5_123\" SET value='O''Neil' WHERE parameter ='p'");
  EXPECT_EQ(SettingUpdateStatement("Merxa_5_\"1;", "v", "p"),
            "UPDATE \"Merxa_5_\"\"1;\" SET value='v' WHERE parameter ='p'");
}

class SettingsFile : public CatalogueFiles {
 protected:
  void SetUp() override {
    CatalogueFiles::SetUp();
    SqliteFile file(dir_.File("MerxaSetup.db"));
    file.Exec("CREATE TABLE Merxa_5_123 (parameter TEXT, value TEXT)");
    for (int k = 1; k <= 8; ++k) {
      file.Exec("INSERT INTO Merxa_5_123 VALUES ('Merxa.FieldName_00" + std::to_string(k) + "', 'old" +
                std::to_string(k) + "')");
    }
    file.Exec("INSERT INTO Merxa_5_123 VALUES ('Merxa.PriceAttrNumber', 'old')");
    file.Exec("INSERT INTO Merxa_5_123 VALUES ('Merxa.NameAttrNumber', 'old')");
    file.Exec("INSERT INTO Merxa_5_123 VALUES ('Merxa.Other', 'keep')");
  }

  // parameter -> value, in parameter order.
  std::vector<Row> Settings() {
    SqliteFile file(dir_.File("MerxaSetup.db"));
    return file.Rows("select parameter, value from Merxa_5_123 order by parameter");
  }

  static std::vector<Row> SettingsWith(std::vector<const char*> captions, const char* price) {
    std::vector<Row> rows;
    for (int k = 1; k <= 8; ++k) {
      const std::string old = "old" + std::to_string(k);
      rows.push_back({"Merxa.FieldName_00" + std::to_string(k),
                      static_cast<size_t>(k) <= captions.size() ? Cell(captions[k - 1]) : Cell(old)});
    }
    rows.push_back({"Merxa.NameAttrNumber", "2"});
    rows.push_back({"Merxa.Other", "keep"});
    rows.push_back({"Merxa.PriceAttrNumber", price});
    return rows;
  }

  // One record with all nine attributes, the one at `empty_position` empty.
  void InsertNineAttributes(int empty_position) {
    Row row = {"A1", "Tea", "pcs", "black", "S1", "top", "10.50", "3", "0"};
    if (empty_position > 0) row[empty_position - 1] = "";
    InsertArticles({row});
  }
};

TEST_F(SettingsFile, AllCaptionedColumnsKept) {
  InsertNineAttributes(0);
  DropEmptyColumns();
  EXPECT_TRUE(UpdateFieldCaptions("5.123"));
  EXPECT_EQ(Settings(), SettingsWith({"Наименование", "Единица Измерения", "Характеристика", "Серия", "Качество",
                                      "Цена", "Количество", "Коэффициент"},
                                     "7"));
}

TEST_F(SettingsFile, UnitColumnDroppedMovesPriceToSix) {
  InsertNineAttributes(3);  // Field_3
  DropEmptyColumns();
  UpdateFieldCaptions("5.123");
  EXPECT_EQ(Settings(), SettingsWith({"Наименование", "Характеристика", "Серия", "Качество", "Цена", "Количество",
                                      "Коэффициент"},
                                     "6"));
}

TEST_F(SettingsFile, PriceColumnDroppedWritesZero) {
  InsertNineAttributes(7);  // Field_7
  DropEmptyColumns();
  UpdateFieldCaptions("5.123");
  EXPECT_EQ(Settings(), SettingsWith({"Наименование", "Единица Измерения", "Характеристика", "Серия", "Качество",
                                      "Количество", "Коэффициент"},
                                     "0"));
}

TEST_F(SettingsFile, SqueezeExampleGivesTheSeriesTheThirdSlot) {
  InsertArticles({{"A1", "Tea", "pcs", "", "S1"}});
  DropEmptyColumns();
  UpdateFieldCaptions("5.123");
  // Slots beyond the columns in use keep their default captions.
  EXPECT_EQ(Settings(), SettingsWith({"Наименование", "Единица Измерения", "Серия", "Качество", "Цена",
                                      "Количество", "Коэффициент"},
                                     "6"));
}

TEST_F(SettingsFile, FailuresLeaveTheSettingsUnchanged) {
  InsertNineAttributes(0);
  DropEmptyColumns();
  const auto before = Settings();
  struct Case {
    const char* version;
    const char* message;
  };
  const Case cases[] = {
      {"5.1", "5Ошибка при заполнение базы данных,не выполнился инсерт."},   // too short to name the table
      {"5.99", "5Ошибка при заполнение базы данных,не выполнился инсерт."},  // still too short
      {"5.999", "5Ошибка при заполнение базы данных,не выполнился инсерт."},  // no table Merxa_5_999
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    EXPECT_EQ(RaisedText([&] { UpdateFieldCaptions(c.version); }), c.message);
    EXPECT_EQ(Settings(), before);
  }
}

// Versions whose characters make no plain table name ("5.0.1" names
// Merxa_5_0.1, "5.1.23" Merxa_5_1.2) still address their table.
TEST_F(SettingsFile, TableNamesOfTheApplicationsVersions) {
  InsertNineAttributes(0);
  DropEmptyColumns();
  for (const char* version : {"5.0.1", "5.1.23", "5.a_7"}) {
    SCOPED_TRACE(version);
    const std::string table = SettingsTableName(version);
    {
      SqliteFile file(dir_.File("MerxaSetup.db"));
      file.Exec("CREATE TABLE " + QuoteSqlIdentifier(table) + " (parameter TEXT, value TEXT);"
                "INSERT INTO " + QuoteSqlIdentifier(table) + " VALUES ('Merxa.FieldName_001', 'old')");
    }
    EXPECT_TRUE(UpdateFieldCaptions(version));
    SqliteFile file(dir_.File("MerxaSetup.db"));
    EXPECT_EQ(file.Rows("select value from " + QuoteSqlIdentifier(table)), (std::vector<Row>{{"Наименование"}}));
  }
}

TEST_F(SettingsFile, VersionTextNoApplicationSendsChangesNothing) {
  InsertNineAttributes(0);
  DropEmptyColumns();
  {
    SqliteFile file(dir_.File("MerxaSetup.db"));
    file.Exec("CREATE TABLE \"Merxa_5_\"\"1;\" (parameter TEXT, value TEXT);"
              "INSERT INTO \"Merxa_5_\"\"1;\" VALUES ('Merxa.FieldName_001', 'old')");
  }
  EXPECT_EQ(RaisedText([] { UpdateFieldCaptions("5.\"1;"); }), "5Ошибка при заполнение базы данных,не выполнился инсерт.");
  SqliteFile file(dir_.File("MerxaSetup.db"));
  EXPECT_EQ(file.Rows("select value from \"Merxa_5_\"\"1;\""), (std::vector<Row>{{"old"}}));
}

TEST_F(SettingsFile, MissingOrUnreadableSettingsFile) {
  InsertNineAttributes(0);
  DropEmptyColumns();
  std::filesystem::remove(dir_.File("MerxaSetup.db"));
  EXPECT_EQ(RaisedText([] { UpdateFieldCaptions("5.123"); }),
            "5Ошибка при записи имен полей,MerxaSetup.db Файла не существует.");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("MerxaSetup.db")));

  Spoil(dir_.File("MerxaSetup.db"));
  EXPECT_EQ(RaisedText([] { UpdateFieldCaptions("5.123"); }), "5Ошибка открытия MerxaSetup.db при записи данных.");
  SetMessageLanguage(Language::English);
  EXPECT_EQ(RaisedText([] { UpdateFieldCaptions("5.123"); }), "5Error while unloading table, try again.");
}

}  // namespace
}  // namespace vtsd
