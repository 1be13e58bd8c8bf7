#include "store/local_database.hpp"

#include <fstream>

#include "tests/support/scratch_test.hpp"

namespace vtsd {
namespace {

using testing::DatabaseView;
using testing::RaisedText;

const Msg kOpen{"1open", "1open"};
const Msg kStep{"2step", "2step"};

TEST(SqlQuoting, EnclosesAndDoublesInnerQuotes) {
  struct Case {
    std::string text;
    std::string literal;
  } cases[] = {
      {"", "''"},
      {"K12", "'K12'"},
      {"O'Neil", "'O''Neil'"},
      {"'", "''''"},
      {"''", "''''''"},
      {"a'b'c'", "'a''b''c'''"},
      {"Чай \"Лунный\" 'сбор'", "'Чай \"Лунный\" ''сбор'''"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QuoteSqlText(c.text), c.literal) << c.text;
    // The NUL-terminated form appends the same literal after what is there.
    std::string buffer = "x=";
    AppendSqlText(buffer, c.text.c_str());
    EXPECT_EQ(buffer, "x=" + c.literal) << c.text;
  }
}

class LocalDatabaseTest : public testing::ScratchDirTest {};

TEST_F(LocalDatabaseTest, NewFileIsUtf16WithFullAutoVacuum) {
  {
    LocalDatabase db = OpenLocalDatabase("fresh.db", kOpen);
    db.Begin(kStep);
    db.Execute("CREATE TABLE t (a TEXT)", kStep);
    db.Commit(kStep);
  }
  DatabaseView view(PathOf("fresh.db"));
  EXPECT_EQ(view.Scalar("PRAGMA encoding"), "UTF-16le");
  EXPECT_EQ(view.Scalar("PRAGMA auto_vacuum"), "1");
}

TEST_F(LocalDatabaseTest, NonAsciiFileNameIsOpened) {
  { OpenLocalDatabase("Каталог.db", kOpen).Execute("CREATE TABLE t (a TEXT)", kStep); }
  EXPECT_TRUE(std::filesystem::exists(dir_ / std::filesystem::u8path("Каталог.db")));
}

TEST_F(LocalDatabaseTest, UncommittedWorkIsGoneAfterClose) {
  {
    LocalDatabase db = OpenLocalDatabase("t.db", kOpen);
    db.Begin(kStep);
    db.Execute("CREATE TABLE t (a TEXT)", kStep);
    db.Commit(kStep);
  }
  {
    LocalDatabase db = OpenLocalDatabase("t.db", kOpen);
    db.Begin(kStep);
    db.Execute("insert into t (a) values('kept?')", kStep);
    EXPECT_TRUE(db.InTransaction());
    // Leaves the scope without committing, as a failing step does.
  }
  DatabaseView view(PathOf("t.db"));
  EXPECT_EQ(view.Scalar("select count(*) from t"), "0");
}

TEST_F(LocalDatabaseTest, FailingStatementRaisesTheStepMessageAndTheRaiseRollsBack) {
  { OpenLocalDatabase("t.db", kOpen).Execute("CREATE TABLE t (a TEXT)", kStep); }
  const std::string raised = RaisedText([] {
    LocalDatabase db = OpenLocalDatabase("t.db", kOpen);
    db.Begin(kStep);
    db.Execute("insert into t (a) values('one')", kStep);
    db.Execute("insert into t (no_such_column) values('two')", kStep);
    db.Commit(kStep);
  });
  EXPECT_EQ(raised, "2step");
  DatabaseView view(PathOf("t.db"));
  EXPECT_EQ(view.Scalar("select count(*) from t"), "0");
}

TEST_F(LocalDatabaseTest, FilesThatCannotBeOpenedRaiseTheOpenMessage) {
  std::filesystem::create_directory(dir_ / "dir.db");
  std::ofstream(PathOf("garbage.db")) << "this is not an SQLite database, but it is long enough to have a header";
  for (const char* name : {"dir.db", "garbage.db", "missing/sub.db"}) {
    EXPECT_EQ(RaisedText([&] { OpenLocalDatabase(name, kOpen); }), "1open") << name;
  }
}

TEST_F(LocalDatabaseTest, QueryReadsRowsByColumnName) {
  {
    LocalDatabase db = OpenLocalDatabase("t.db", kOpen);
    db.Begin(kStep);
    db.Execute("CREATE TABLE Registry (N INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT, RealName TEXT)", kStep);
    db.Execute("insert into Registry (Name,RealName) values('Задача ''1''','0000101010')", kStep);
    db.Execute("insert into Registry (Name) values('')", kStep);
    db.Commit(kStep);
  }
  LocalDatabase db = OpenLocalDatabase("t.db", kOpen);
  LocalQuery rows = db.Query("select * From Registry order by N", kStep);
  ASSERT_TRUE(rows.Next());
  EXPECT_EQ(rows.Text("N"), "1");
  EXPECT_EQ(rows.Text("Name"), "Задача '1'");
  EXPECT_EQ(rows.Text("realname"), "0000101010");  // SQLite names are case-blind
  EXPECT_FALSE(rows.IsNull("RealName"));
  ASSERT_TRUE(rows.Next());
  EXPECT_EQ(rows.Text("Name"), "");
  EXPECT_FALSE(rows.IsNull("Name"));
  EXPECT_TRUE(rows.IsNull("RealName"));
  EXPECT_EQ(rows.Text("RealName"), "");
  EXPECT_EQ(rows.ColumnIndex("Nam"), -1);
  EXPECT_EQ(RaisedText([&] { rows.Text("Missing"); }), "2step");
  EXPECT_FALSE(rows.Next());
}

TEST_F(LocalDatabaseTest, TextWithASecondStatementRunsNothing) {
  LocalDatabase db = OpenLocalDatabase("t.db", kOpen);
  db.Execute("CREATE TABLE order_1 (a TEXT);", kStep);
  // A key that smuggles a statement in behind a table name.
  const std::string key = "1; DROP TABLE order_1";
  EXPECT_EQ(RaisedText([&] { db.Execute("DELETE FROM order_" + key, kStep); }), "2step");
  EXPECT_EQ(RaisedText([&] { db.Query("select * from order_" + key, kStep); }), "2step");
  LocalQuery tables = db.Query("select count(*) as n from sqlite_master where name='order_1'", kStep);
  ASSERT_TRUE(tables.Next());
  EXPECT_EQ(tables.Text("n"), "1");
}

TEST_F(LocalDatabaseTest, BadQueryRaisesTheStepMessage) {
  LocalDatabase db = OpenLocalDatabase("t.db", kOpen);
  EXPECT_EQ(RaisedText([&] { db.Query("select * From NoSuchTable", kStep); }), "2step");
}

TEST_F(LocalDatabaseTest, DoubleQuotedEmptyTextIsTheEmptyLiteral) {
  // The empty-column query of the catalogue finishing is written with "".
  LocalDatabase db = OpenLocalDatabase("t.db", kOpen);
  db.Execute("CREATE TABLE t (Field_5 TEXT)", kStep);
  for (const char* value : {"''", "NULL", "'x'"}) db.Execute(std::string("insert into t values(") + value + ")", kStep);
  LocalQuery rows = db.Query("select * From t where Field_5 <>\"\"", kStep);
  ASSERT_TRUE(rows.Next());
  EXPECT_EQ(rows.Text("Field_5"), "x");
  EXPECT_FALSE(rows.Next());
}

// ---- Files from the terminal ----------------------------------------------

const char kDamaged[] = "№Файл t.db на ТСД повреждён: драйвер не может его прочитать.";

// A terminal file of `rows` one-character articles: the smallest rows, so
// the most statement work per byte that an honest file can ask for.
void WriteTinyRows(const std::string& path, int rows) {
  LocalDatabase db = OpenLocalDatabase(path, kOpen);
  db.Begin(kStep);
  db.Execute("CREATE TABLE order_1 (N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Value TEXT)", kStep);
  db.Execute("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM c WHERE n<" + std::to_string(rows) +
                 ") INSERT INTO order_1(Articule,Value) SELECT n % 10, '1' FROM c",
             kStep);
  db.Commit(kStep);
}

TEST_F(LocalDatabaseTest, TerminalFileStatementsEndAtTheirBound) {
  WriteTinyRows("t.db", 10);
  LocalDatabase db = OpenTerminalDatabase("t.db", kOpen);
  // Endless work from a tiny file ends in the damaged message, on every
  // kind of statement, and the connection goes on working afterwards.
  const std::string endless = "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM c) SELECT count(*) FROM c";
  EXPECT_EQ(RaisedText([&] { db.Execute(endless, kStep); }), kDamaged);
  EXPECT_EQ(RaisedText([&] {
              LocalQuery rows = db.Query(endless, kStep);
              rows.Next();
            }),
            kDamaged);
  LocalQuery count = db.Query("SELECT count(*) FROM order_1", kStep);
  ASSERT_TRUE(count.Next());
  EXPECT_EQ(count.Text(0), "10");
}

TEST_F(LocalDatabaseTest, TerminalFileHonestScanStaysWithinItsBound) {
  // 300,000 of the smallest rows, every one read: no statement of an honest
  // file comes near the bound.
  WriteTinyRows("t.db", 300000);
  LocalDatabase db = OpenTerminalDatabase("t.db", kOpen);
  LocalQuery rows = db.Query("Select Articule,Value From order_1", kStep);
  int read = 0;
  while (rows.Next()) ++read;
  EXPECT_EQ(read, 300000);
  LocalQuery largest = db.Query("SELECT ifnull(max(CAST(N AS INTEGER)), 0) + 1 FROM order_1", kStep);
  ASSERT_TRUE(largest.Next());
  EXPECT_EQ(largest.Text(0), "300001");
}

TEST_F(LocalDatabaseTest, TerminalFileRunsNoneOfItsCode) {
  WriteTinyRows("t.db", 3);
  {
    LocalDatabase db = OpenLocalDatabase("t.db", kOpen);
    db.Execute("CREATE TABLE junk (x)", kStep);
    db.Execute("CREATE TRIGGER grow AFTER INSERT ON order_1 BEGIN INSERT INTO junk VALUES (1); END", kStep);
  }
  {
    LocalDatabase db = OpenTerminalDatabase("t.db", kOpen);
    db.Execute("INSERT INTO order_1(Articule,Value) VALUES ('x','1')", kStep);
    // A length beyond the formats' limit is damage, not a step failure.
    EXPECT_EQ(RaisedText([&] { db.Execute("SELECT zeroblob(2000000)", kStep); }), kDamaged);
    // A failure of the step's own keeps the step's message.
    EXPECT_EQ(RaisedText([&] { db.Execute("SELECT * FROM no_such_table", kStep); }), "2step");
  }
  DatabaseView view(PathOf("t.db"));
  EXPECT_EQ(view.Scalar("SELECT count(*) FROM junk"), "0");
  EXPECT_EQ(view.Scalar("SELECT count(*) FROM order_1"), "4");
}

}  // namespace
}  // namespace vtsd
