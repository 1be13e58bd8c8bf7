#include "selection/selection_database.hpp"

#include "store/local_database.hpp"
#include "tests/support/scratch_test.hpp"

namespace vtsd {
namespace {

using testing::DatabaseView;
using testing::RaisedText;

const Msg kFailure{"9fail", "9fail"};

class SelectionDatabaseTest : public testing::ScratchDirTest {
 protected:
  void Execute(const std::vector<std::string>& statements) {
    LocalDatabase db = OpenLocalDatabase("Podbor.db", kFailure);
    db.Begin(kFailure);
    for (const std::string& statement : statements) db.Execute(statement, kFailure);
    db.Commit(kFailure);
  }
  std::vector<std::string> SchemaNames() {
    DatabaseView view(PathOf("Podbor.db"));
    return view.Column("select type || ' ' || name from sqlite_master where name not like 'sqlite_%' order by name");
  }
};

TEST_F(SelectionDatabaseTest, NewFileHoldsOnlyTheEmptyRegistry) {
  EXPECT_TRUE(CreateSelectionDatabase());
  EXPECT_EQ(SchemaNames(), (std::vector<std::string>{"index Name_index_Registry", "table Registry"}));
  DatabaseView view(PathOf("Podbor.db"));
  EXPECT_EQ(view.Column("select name from pragma_table_info('Registry') order by cid"),
            (std::vector<std::string>{"N", "Name", "RealName", "Date", "Attr_2", "Attr_3", "Attr_4", "Attr_5",
                                      "Attr_6", "Attr_7", "Attr_8", "Attr_9", "Attr_10"}));
  EXPECT_EQ(view.Scalar("select count(*) from Registry"), "0");
  EXPECT_EQ(view.Scalar("PRAGMA encoding"), "UTF-16le");
  EXPECT_EQ(view.Scalar("PRAGMA auto_vacuum"), "1");
}

TEST_F(SelectionDatabaseTest, StaleFileWithTasksIsReplaced) {
  ASSERT_TRUE(CreateSelectionDatabase());
  Execute(TaskTableCreationStatements("0000120000"));
  Execute({"INSERT INTO Registry(N,Name,RealName) VALUES ('1','old','0000120000')"});
  EXPECT_TRUE(CreateSelectionDatabase());
  EXPECT_EQ(SchemaNames(), (std::vector<std::string>{"index Name_index_Registry", "table Registry"}));
  DatabaseView view(PathOf("Podbor.db"));
  EXPECT_EQ(view.Scalar("select count(*) from Registry"), "0");
}

TEST_F(SelectionDatabaseTest, FailuresRaiseTheirMessages) {
  std::filesystem::create_directory(dir_ / "Podbor.db");
  EXPECT_EQ(RaisedText([] { CreateSelectionDatabase(); }), "№Ошибка при удаление временного Файла Podbor.db");
  SetMessageLanguage(Language::English);
  EXPECT_EQ(RaisedText([] { CreateSelectionDatabase(); }), "№Error while deleting temporary files Podbor.db");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "Podbor.db"));

  SetTempDir(PathOf("no-such-dir") + "/");
  EXPECT_EQ(RaisedText([] { CreateSelectionDatabase(); }), "№Error while creating file Podbor.db");
  SetMessageLanguage(Language::Russian);
  EXPECT_EQ(RaisedText([] { CreateSelectionDatabase(); }), "№Ошибка при создание файла Podbor.db");
}

TEST_F(SelectionDatabaseTest, TaskTablesAreCreatedWithTheirExactSchemaText) {
  const std::string key = "0000143507";
  ASSERT_TRUE(CreateSelectionDatabase());
  Execute(TaskTableCreationStatements(key));
  DatabaseView view(PathOf("Podbor.db"));
  // The terminal reads the stored schema text, so it is compared whole.
  const std::string line_columns =
      "(N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Value TEXT,Date TEXT,Attr_2 TEXT,Attr_3 TEXT,"
      "Attr_4 TEXT,Attr_5 TEXT,Attr_6 TEXT,Attr_7 TEXT,Attr_8 TEXT,Attr_9 TEXT,Attr_10 TEXT)";
  const std::vector<testing::Row> expected = {
      {"order_0000143507", "CREATE TABLE order_0000143507" + line_columns},
      {"order_d_0000143507", "CREATE TABLE order_d_0000143507" + line_columns},
      {"order_podbor_0000143507",
       "CREATE TABLE order_podbor_0000143507(N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Value TEXT)"},
      {"order_sn_0000143507",
       "CREATE TABLE order_sn_0000143507(N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Serial TEXT,Value TEXT)"},
  };
  EXPECT_EQ(view.Rows("select name, sql from sqlite_master where type='table' and name like 'order%' order by name"),
            expected);
  const std::vector<testing::Row> indexes = {
      {"Articule_index_order_0000143507", "CREATE INDEX Articule_index_order_0000143507 ON order_0000143507 (Articule)"},
      {"Articule_index_order_d_0000143507",
       "CREATE INDEX Articule_index_order_d_0000143507 ON order_d_0000143507 (Articule)"},
      {"Articule_index_order_podbor_0000143507",
       "CREATE INDEX Articule_index_order_podbor_0000143507 ON order_podbor_0000143507 (Articule)"},
      {"Articule_index_order_sn_0000143507",
       "CREATE INDEX Articule_index_order_sn_0000143507 ON order_sn_0000143507 (Articule)"},
  };
  EXPECT_EQ(view.Rows("select name, sql from sqlite_master where type='index' and name like 'Articule%' order by name"),
            indexes);
}

TEST_F(SelectionDatabaseTest, DropsAndRegistryDeleteRemoveOneTaskOnly) {
  ASSERT_TRUE(CreateSelectionDatabase());
  Execute(TaskTableCreationStatements("0000090000"));
  Execute(TaskTableCreationStatements("0000100000"));
  Execute({"INSERT INTO Registry(N,Name,RealName) VALUES ('1','Задача ''А''','0000090000')",
           "INSERT INTO Registry(N,Name,RealName) VALUES ('2','other','0000100000')",
           "INSERT INTO Registry(N,Name,RealName) VALUES ('3','again','0000090000')"});

  std::vector<std::string> removal = TaskTableDropStatements("0000090000");
  EXPECT_EQ(removal, (std::vector<std::string>{
                         "drop  table if exists \"order_0000090000\"",
                         "drop  table if exists \"order_d_0000090000\"",
                         "drop  table if exists \"order_podbor_0000090000\"",
                         "drop  table if exists \"order_sn_0000090000\""}));
  EXPECT_EQ(RegistryDeleteStatement("0000090000"), "DELETE FROM Registry WHERE RealName = '0000090000'");
  removal.push_back(RegistryDeleteStatement("0000090000"));
  Execute(removal);

  EXPECT_EQ(SchemaNames(),
            (std::vector<std::string>{"index Articule_index_order_0000100000", "index Articule_index_order_d_0000100000",
                                      "index Articule_index_order_podbor_0000100000",
                                      "index Articule_index_order_sn_0000100000", "index Name_index_Registry",
                                      "table Registry", "table order_0000100000", "table order_d_0000100000",
                                      "table order_podbor_0000100000", "table order_sn_0000100000"}));
  DatabaseView view(PathOf("Podbor.db"));
  EXPECT_EQ(view.Column("select Name from Registry"), (std::vector<std::string>{"other"}));
}

TEST_F(SelectionDatabaseTest, DroppingAnUnknownTaskSucceeds) {
  ASSERT_TRUE(CreateSelectionDatabase());
  std::vector<std::string> removal = TaskTableDropStatements("0000000001");
  removal.push_back(RegistryDeleteStatement("0000'0001"));
  EXPECT_NO_THROW(Execute(removal));
  EXPECT_EQ(SchemaNames(), (std::vector<std::string>{"index Name_index_Registry", "table Registry"}));
}

}  // namespace
}  // namespace vtsd
