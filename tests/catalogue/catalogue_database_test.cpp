#include "catalogue/catalogue_database.hpp"

#include <fstream>

#include "tests/support/scratch_test.hpp"

namespace vtsd {
namespace {

using testing::DatabaseView;
using testing::RaisedText;

class CatalogueDatabaseTest : public testing::ScratchDirTest {
 protected:
  void ExpectEmptyCatalogueSchema() {
    DatabaseView view(PathOf("Merxa.db"));
    EXPECT_EQ(view.Scalar("PRAGMA encoding"), "UTF-16le");
    EXPECT_EQ(view.Scalar("PRAGMA auto_vacuum"), "1");
    EXPECT_EQ(view.Column("select name from sqlite_master where type='table' and name not like 'sqlite_%' "
                          "order by name"),
              (std::vector<std::string>{"Articule", "Articule_Fields", "Barcodes"}));
    EXPECT_EQ(view.Column("select name || ' ' || tbl_name from sqlite_master where type='index' order by name"),
              (std::vector<std::string>{"Articule_index_Articule Articule", "Articule_index_Barcodes Barcodes",
                                        "Barcode_index_Barcodes Barcodes"}));
    std::vector<std::string> articule_columns{"N", "Articule"};
    for (int i = 2; i <= 15; ++i) articule_columns.push_back("Field_" + std::to_string(i));
    EXPECT_EQ(view.Column("select name from pragma_table_info('Articule') order by cid"), articule_columns);
    EXPECT_EQ(view.Column("select name || ' ' || type from pragma_table_info('Barcodes') order by cid"),
              (std::vector<std::string>{"N INTEGER", "Barcode TEXT", "Articule TEXT", "Value TEXT"}));
    EXPECT_EQ(view.Column("select name || ' ' || type from pragma_table_info('Articule_Fields') order by cid"),
              (std::vector<std::string>{"N INTEGER", "Name TEXT"}));
    EXPECT_EQ(view.Scalar("select pk from pragma_table_info('Articule') where name='N'"), "1");
    for (const char* table : {"Articule", "Articule_Fields", "Barcodes"}) {
      EXPECT_EQ(view.Scalar(std::string("select count(*) from ") + table), "0") << table;
    }
  }
};

TEST_F(CatalogueDatabaseTest, CreatesTheEmptySchema) {
  EXPECT_TRUE(CreateCatalogueDatabase());
  ExpectEmptyCatalogueSchema();
}

TEST_F(CatalogueDatabaseTest, ReplacesAStaleFile) {
  // A catalogue left by an earlier upload, with rows and an extra table.
  ASSERT_TRUE(CreateCatalogueDatabase());
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(PathOf("Merxa.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "insert into Articule (Articule) values('old');"
                           "insert into Barcodes (Barcode) values('old');"
                           "CREATE TABLE TimeTable (x TEXT)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  EXPECT_TRUE(CreateCatalogueDatabase());
  ExpectEmptyCatalogueSchema();
  // Called again right away, the step yields the same empty file.
  EXPECT_TRUE(CreateCatalogueDatabase());
  ExpectEmptyCatalogueSchema();
}

TEST_F(CatalogueDatabaseTest, ReplacesAFileThatIsNoDatabase) {
  std::ofstream(PathOf("Merxa.db")) << "left over by something else";
  EXPECT_TRUE(CreateCatalogueDatabase());
  ExpectEmptyCatalogueSchema();
}

TEST_F(CatalogueDatabaseTest, SomethingThatCannotBeDeletedStopsTheStep) {
  // A directory stands for a file that another process holds open.
  std::filesystem::create_directory(dir_ / "Merxa.db");
  std::ofstream(dir_ / "Merxa.db" / "inside") << "kept";
  EXPECT_EQ(RaisedText([] { CreateCatalogueDatabase(); }), "5Ошибка при удаление временного Файла Merxa.db.");
  SetMessageLanguage(Language::English);
  EXPECT_EQ(RaisedText([] { CreateCatalogueDatabase(); }), "5Error while unloading table, try again.");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "Merxa.db"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "Merxa.db" / "inside"));
}

TEST_F(CatalogueDatabaseTest, UnwritableTempDirRaisesTheCreationMessage) {
  SetTempDir(PathOf("no-such-dir") + "/");
  EXPECT_EQ(RaisedText([] { CreateCatalogueDatabase(); }), "5Ошибка при создание файла Merxa.db.");
}

}  // namespace
}  // namespace vtsd
