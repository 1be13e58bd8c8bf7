#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <regex>
#include <utility>

#include "base/temp_dir.hpp"
#include "platform/files.hpp"
#include "selection/selection_database.hpp"
#include "selection/task_upload.hpp"
#include "tests/selection/fixtures.hpp"

namespace vtsd {
namespace {

using platform::BoxAnswer;
using platform::LocalDateTimeText;
using test::Db;
using test::RaisedText;
using Rows = std::vector<std::vector<std::string>>;

TEST(TaskKey, TakesTheTimeDigits) {
  const struct {
    const char* time;
    const char* key;
  } cases[] = {
      {"14:35:07", "0000143507"},
      {"9:05:03", "000090503"},
      {"2:35:07 PM", "000023507"},
      {"02:35:07 AM", "0000023507"},
      {"14.35.07", "0000143507"},  // any separator goes
      {"14h35m07s", "0000143507"},
      {"\xD1\x87 14:35", "00001435"},
  };
  for (const auto& c : cases) EXPECT_EQ(TaskKey(c.time), c.key) << c.time;
  for (const auto& [key, next] : std::vector<std::pair<std::string, std::string>>{
           {"0000143507", "0000143508"}, {"0000143599", "0000143600"}, {"0000999", "00001000"}, {"0000", "00001"}})
    EXPECT_EQ(NextTaskKey(key), next) << key;
  EXPECT_EQ(TaskDateText({"10.12.2026", "14:35:07"}), "10.12.2026 14:35:07");
}

// The environment's time locale gives the formats; an unknown locale name
// falls back to the C formats instead of failing.
TEST(LocalDateTime, FormatsComeFromTheEnvironmentLocale) {
  const char* previous = std::getenv("LC_ALL");
  const std::string saved = previous ? previous : "";
  for (const char* locale : {"C", "xx_XX.no-such-locale"}) {
    ::setenv("LC_ALL", locale, 1);
    const LocalDateTimeText now = platform::CurrentLocalDateTime();
    EXPECT_TRUE(std::regex_match(now.date, std::regex(R"(\d\d/\d\d/\d\d)"))) << locale << ": " << now.date;
    EXPECT_TRUE(std::regex_match(now.time, std::regex(R"(\d\d:\d\d:\d\d)"))) << locale << ": " << now.time;
    EXPECT_TRUE(std::regex_match(TaskKey(now.time), std::regex(R"(0000\d{6})")));
  }
  if (previous) {
    ::setenv("LC_ALL", saved.c_str(), 1);
  } else {
    ::unsetenv("LC_ALL");
  }
}

// Clocks at fixed instants, so that keys are known in advance.
LocalDateTimeText At143507() { return {"10.12.2026", "14:35:07"}; }
LocalDateTimeText At090503() { return {"11.12.2026", "9:05:03"}; }

class AddSelectionTaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::English);
    ASSERT_TRUE(CreateSelectionDatabase());
  }
  void TearDown() override { SetMessageLanguage(Language::Russian); }

  std::string PodborPath() const { return scratch.File("Podbor.db"); }
  Rows Registry() {
    Db db(PodborPath());
    return db.Rows("SELECT N,Name,RealName,Date,Attr_2,Attr_3,Attr_4,Attr_5,Attr_6,Attr_10 FROM Registry ORDER BY N");
  }

  test::ScratchTempDir scratch;
  test::ScriptedDialogs dialogs;
};

const char kTwoLines[] =
    "<Table PodborName=\"Task 1\" Extra=\"x\">"
    "<Record Articule=\"A-1\" Quantity=\"2\"/>"
    "<Record Q=\"7\" A=\"B&amp;2\" Unused=\"z\"/>"
    "</Table>";

TEST_F(AddSelectionTaskTest, NewTaskWritesRegistryRowTablesAndLines) {
  {
    Db db(PodborPath());
    db.Exec("INSERT INTO Registry(N,Name,RealName) VALUES (1,'old 1','0000010101');"
            "INSERT INTO Registry(N,Name,RealName) VALUES (2,'old 2','0000020202')");
  }
  EXPECT_TRUE(AddSelectionTask(kTwoLines, "Podbor.db", At143507));

  EXPECT_TRUE(dialogs.boxes.empty());
  const Rows registry = Registry();
  ASSERT_EQ(registry.size(), 3u);
  EXPECT_EQ(registry[2], (std::vector<std::string>{"3", "Task 1", "0000143507", "10.12.2026 14:35:07",
                                                   "2", "2", "0", "0.00", "<NULL>", "<NULL>"}));
  Db db(PodborPath());
  EXPECT_EQ(db.Names("table"),
            (std::vector<std::string>{"Registry", "order_0000143507", "order_d_0000143507",
                                      "order_podbor_0000143507", "order_sn_0000143507"}));
  EXPECT_EQ(db.Names("index"),
            (std::vector<std::string>{"Articule_index_order_0000143507", "Articule_index_order_d_0000143507",
                                      "Articule_index_order_podbor_0000143507",
                                      "Articule_index_order_sn_0000143507", "Name_index_Registry"}));
  // Lines by attribute position, not name, in document order.
  EXPECT_EQ(db.Rows("SELECT N,Articule,Value FROM order_podbor_0000143507"),
            (Rows{{"1", "A-1", "2"}, {"2", "7", "B&2"}}));
  for (const char* table : {"order_0000143507", "order_d_0000143507", "order_sn_0000143507"}) {
    EXPECT_TRUE(db.Rows(std::string("SELECT * FROM ") + table).empty()) << table;
  }
  // The schema entry keeps the table text as written.
  EXPECT_EQ(db.Rows("SELECT sql FROM sqlite_master WHERE name='order_podbor_0000143507'")[0][0],
            "CREATE TABLE order_podbor_0000143507(N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Value TEXT)");
}

TEST_F(AddSelectionTaskTest, ReplacementAnsweredYesDropsOldTaskAndKeepsItsNumber) {
  ASSERT_TRUE(AddSelectionTask(kTwoLines, "Podbor.db", At143507));
  ASSERT_TRUE(AddSelectionTask("<Table PodborName=\"Other\"><Record a=\"1\" b=\"1\"/></Table>", "Podbor.db",
                               At090503));
  {
    // A second row under the old key goes as well.
    Db db(PodborPath());
    db.Exec("INSERT INTO Registry(N,Name,RealName) VALUES (7,'dup','0000143507')");
  }
  dialogs.Answer(BoxAnswer::Yes);
  const LocalDateTimeText later{"12.12.2026", "16:00:01"};
  static LocalDateTimeText fixed;
  fixed = later;
  ASSERT_TRUE(AddSelectionTask("<Table PodborName=\"Task 1\"><Record a=\"N\" b=\"5\"/></Table>", "Podbor.db",
                               [] { return fixed; }));

  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].kind, platform::BoxKind::Question);
  EXPECT_EQ(dialogs.boxes[0].caption, "Vemlar TSD");
  EXPECT_EQ(dialogs.boxes[0].text,
            "In TSD, the task of selecting the name Task 1 already exists. Delete the task and upload a new "
            "one? If you click No, the download will be canceled.");
  EXPECT_EQ(dialogs.boxes[0].safe_answer, BoxAnswer::No);

  Db db(PodborPath());
  EXPECT_EQ(db.Rows("SELECT N,Name,RealName FROM Registry ORDER BY N"),
            (Rows{{"1", "Task 1", "0000160001"}, {"2", "Other", "000090503"}}));
  EXPECT_EQ(db.Rows("SELECT name FROM sqlite_master WHERE name LIKE '%0000143507'"), Rows{});
  EXPECT_EQ(db.Rows("SELECT Articule,Value FROM order_podbor_0000160001"), (Rows{{"N", "5"}}));
}

// The terminal deletes tasks: numbers have gaps, and the same time of
// another day, or a clock whose separator is ".", names a key in use. The
// new task takes the next number after the largest and the next free key.
TEST_F(AddSelectionTaskTest, GapsInNumbersAndKeysInUseAreStepped) {
  {
    Db db(PodborPath());
    db.Exec("INSERT INTO Registry(N,Name,RealName) VALUES (1,'old 1','0000143507');"
            "INSERT INTO Registry(N,Name,RealName) VALUES (3,'old 3','0000143508');"
            "CREATE TABLE order_0000143509(N INTEGER)");
  }
  static LocalDateTimeText dotted;
  dotted = {"10.12.2026", "14.35.07"};
  ASSERT_TRUE(AddSelectionTask(kTwoLines, "Podbor.db", [] { return dotted; }));
  ASSERT_TRUE(AddSelectionTask("<Table PodborName=\"Task 2\"><Record a=\"1\" b=\"1\"/></Table>", "Podbor.db",
                               At143507));
  Db db(PodborPath());
  EXPECT_EQ(db.Rows("SELECT N,Name,RealName FROM Registry ORDER BY N"),
            (Rows{{"1", "old 1", "0000143507"},
                  {"3", "old 3", "0000143508"},
                  {"4", "Task 1", "0000143510"},
                  {"5", "Task 2", "0000143511"}}));
  EXPECT_EQ(db.Rows("SELECT Articule FROM order_podbor_0000143511"), (Rows{{"1"}}));
}

// A file holding the name twice (another program wrote it so): replacing
// the task removes both rows and all their tables.
TEST_F(AddSelectionTaskTest, ReplacingADuplicatedNameRemovesEveryTaskOfIt) {
  ASSERT_TRUE(AddSelectionTask(kTwoLines, "Podbor.db", At143507));
  ASSERT_TRUE(AddSelectionTask("<Table PodborName=\"Other\"><Record a=\"1\" b=\"1\"/></Table>", "Podbor.db",
                               At090503));
  {
    Db db(PodborPath());
    db.Exec("UPDATE Registry SET Name='Task 1' WHERE Name='Other'");
  }
  dialogs.Answer(BoxAnswer::Yes);
  static LocalDateTimeText later;
  later = {"12.12.2026", "16:00:01"};
  ASSERT_TRUE(AddSelectionTask("<Table PodborName=\"Task 1\"><Record a=\"N\" b=\"5\"/></Table>", "Podbor.db",
                               [] { return later; }));
  EXPECT_EQ(dialogs.boxes.size(), 1u);
  Db db(PodborPath());
  EXPECT_EQ(db.Rows("SELECT N,Name,RealName FROM Registry ORDER BY N"), (Rows{{"1", "Task 1", "0000160001"}}));
  EXPECT_EQ(db.Rows("SELECT name FROM sqlite_master WHERE name LIKE '%0000143507' OR name LIKE '%000090503'"),
            Rows{});
}

TEST_F(AddSelectionTaskTest, ReplacementAnsweredNoCancelsAndLeavesFileUnchanged) {
  SetMessageLanguage(Language::Russian);
  ASSERT_TRUE(AddSelectionTask(kTwoLines, "Podbor.db", At143507));
  const std::string before = test::Dump(PodborPath());
  dialogs.Answer(BoxAnswer::No);
  EXPECT_EQ(RaisedText([&] { AddSelectionTask(kTwoLines, "Podbor.db", At090503); }),
            "7Выгрузка отменена пользователем.");
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text,
            "В ТСД, задача подбора с именем Task 1 уже существует. Удалить задачу и загрузить новую? Если "
            "нажать нет, то загрузка будет отменена.");
  EXPECT_EQ(test::Dump(PodborPath()), before);
}

TEST_F(AddSelectionTaskTest, FirstAttributeOtherThanPodborNameGivesUnnamedTaskWithoutQuestion) {
  {
    Db db(PodborPath());
    db.Exec("INSERT INTO Registry(N,Name,RealName) VALUES (1,'','0000000001')");
  }
  ASSERT_TRUE(AddSelectionTask("<Table id=\"5\" PodborName=\"Named\"><Record a=\"1\" b=\"2\"/></Table>",
                               "Podbor.db", At143507));
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_EQ(Db(PodborPath()).Rows("SELECT N,Name,RealName FROM Registry ORDER BY N"),
            (Rows{{"1", "", "0000000001"}, {"2", "", "0000143507"}}));
}

TEST_F(AddSelectionTaskTest, NameWithApostropheIsStoredAndFoundAgain) {
  ASSERT_TRUE(AddSelectionTask("<Table PodborName=\"O'Neil &apos;s\"><Record a=\"it's\" b=\"1\"/></Table>",
                               "Podbor.db", At143507));
  EXPECT_EQ(Registry()[0][1], "O'Neil 's");
  EXPECT_EQ(Db(PodborPath()).Rows("SELECT Articule FROM order_podbor_0000143507"), (Rows{{"it's"}}));

  dialogs.Answer(BoxAnswer::No);
  EXPECT_EQ(RaisedText([&] {
              AddSelectionTask("<Table PodborName=\"O'Neil 's\"/>", "Podbor.db", At090503);
            }),
            "7Unloading canceled by the user.");
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_NE(dialogs.boxes[0].text.find("name O'Neil 's already"), std::string::npos);
}

TEST_F(AddSelectionTaskTest, TaskWithoutRecordsHasZeroCountsAndEmptyLines) {
  ASSERT_TRUE(AddSelectionTask("<Table PodborName=\"Empty\"></Table>", "Podbor.db", At143507));
  const Rows registry = Registry();
  ASSERT_EQ(registry.size(), 1u);
  EXPECT_EQ(registry[0][4], "0");
  EXPECT_EQ(registry[0][5], "0");
  EXPECT_TRUE(Db(PodborPath()).Rows("SELECT * FROM order_podbor_0000143507").empty());
}

// Failures that end the upload: each names its message and must leave the
// fetched file's tables and rows as they were.
TEST_F(AddSelectionTaskTest, FailuresLeaveTheFileAsFetched) {
  // Rows numbered 1 and 3: the count plus one collides with N = 3.
  const char* const kGap =
      "INSERT INTO Registry(N,Name,RealName) VALUES (1,'a','0000000001');"
      "INSERT INTO Registry(N,Name,RealName) VALUES (3,'b','0000000003')";
  const char* const kTaskAt090503 =
      "INSERT INTO Registry(N,Name,RealName) VALUES (1,'old','000090503');"
      "CREATE TABLE order_000090503(N INTEGER)";
  const struct {
    const char* name;
    const char* setup;
    const char* xml;
    LocalClock clock;
    const char* message;
  } cases[] = {
      {"not well-formed", kGap, "<Table PodborName=\"x\"><Record a=\"1\" b=\"2\"></Table>", At143507,
       "7XML is invalid, check the parameter Xml Table."},
      {"two roots", kGap, "<Table PodborName=\"x\"/><Table/>", At143507,
       "7XML is invalid, check the parameter Xml Table."},
      {"no Table root", kGap, "<Tabel PodborName=\"x\"><Record a=\"1\" b=\"2\"/></Tabel>", At143507,
       "№The table is not set to XML PodborName"},
      {"record without quantity", kTaskAt090503,
       "<Table PodborName=\"x\"><Record a=\"1\" b=\"2\"/><Record a=\"3\"/></Table>", At143507,
       "7An error occurred while populating the database, does not hold an insert."},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(CreateSelectionDatabase());
    Db(PodborPath()).Exec(c.setup);
    const std::string before = test::Dump(PodborPath());
    EXPECT_EQ(RaisedText([&] { AddSelectionTask(c.xml, "Podbor.db", c.clock); }), c.message) << c.name;
    EXPECT_EQ(test::Dump(PodborPath()), before) << c.name;
  }
  EXPECT_TRUE(dialogs.boxes.empty());
}

// A key read back from the terminal's file is put into statements as it is;
// one that carries more SQL must not run that SQL.
TEST_F(AddSelectionTaskTest, KeyCarryingMoreSqlIsRefusedNotRun) {
  Db(PodborPath()).Exec(
      "INSERT INTO Registry(N,Name,RealName) VALUES (1,'Evil','0001; DELETE FROM Registry');"
      "INSERT INTO Registry(N,Name,RealName) VALUES (2,'Kept','0002')");
  const std::string before = test::Dump(PodborPath());
  dialogs.Answer(BoxAnswer::Yes);
  const std::string error =
      RaisedText([&] { AddSelectionTask("<Table PodborName=\"Evil\"/>", "Podbor.db", At143507); });
  EXPECT_EQ(error, "№The file Podbor.db on the TSD is damaged: the driver cannot read it.");
  EXPECT_EQ(test::Dump(PodborPath()), before);
}

TEST_F(AddSelectionTaskTest, FileThatCannotBeOpenedGivesOpenMessage) {
  ASSERT_TRUE(platform::RemoveFile(PodborPath()));
  ASSERT_EQ(::mkdir(PodborPath().c_str(), 0700), 0);
  EXPECT_EQ(RaisedText([&] { AddSelectionTask(kTwoLines, "Podbor.db", At143507); }),
            "№Error opening the database when writing data");
}

}  // namespace
}  // namespace vtsd
