// UnloadTaskForSelection and DownloadTable through the method frame against
// the terminal simulator over a loopback connection: the terminal's files
// under the simulator's root and its request log show what was sent.
#include <gtest/gtest.h>

#include "platform/files.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <sstream>
#include <thread>

#include "addin/dispatch.hpp"
#include "base/settings.hpp"
#include "documents.hpp"
#include "link/connection.hpp"
#include "options.hpp"
#include "selection/selection_database.hpp"
#include "selection/selection_window.hpp"
#include "link/session.hpp"
#include "link/terminal_id.hpp"
#include "selection/task_upload.hpp"
#include "simulator.hpp"
#include "tests/selection/fixtures.hpp"
#include "tests/support/free_port.hpp"
#include "tests/support/sim_terminal.hpp"

namespace vtsd {
namespace {

namespace fs = std::filesystem;
using platform::BoxAnswer;
using platform::BoxKind;
using platform::SelectionWindowEvent;
using test::Db;
using test::ReadBytes;
using Rows = std::vector<std::vector<std::string>>;

const std::string kSep = kChoiceSeparator;

enum Method { kOpen = 0, kClose = 1, kDownloadTable = 11, kUnloadTask = 12 };

// The dialogs of these tests: the listener's information box is answered at
// once (it comes from the listener thread and is not recorded); every other
// box and window follows the script.
class TerminalDialogs : public test::ScriptedDialogs {
 public:
  BoxAnswer ShowMessageBox(const platform::MessageBoxRequest& request, platform::BoxCloser* closer) override {
    if (request.kind == BoxKind::Info) return BoxAnswer::Ok;
    return ScriptedDialogs::ShowMessageBox(request, closer);
  }
};

const char kTask[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<Table PodborName=\"Picking 7\">\r\n"
    "<Record Articule=\"4601\" Quantity=\"3\"/>\r\n"
    "<Record Articule=\"4602\" Quantity=\"1.5\"/>\r\n"
    "<Record Articule=\"4603\" Quantity=\"10\"/>\r\n"
    "</Table>";

class TerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::English);
    terminal_.Prepare(scratch_.path(), test::FreePort());
    ConnectionSettings().ChooseDownloadSource = false;
    SelectionWindowState().isCancelled = false;
  }

  void TearDown() override {
    terminal_.Stop();
    SetMessageLanguage(Language::Russian);
  }

  // Starts the simulator with extra arguments and opens the connection.
  void Connect(std::vector<std::string> extra = {}) { terminal_.Connect(std::move(extra)); }

  using Result = test::SimTerminal::Result;
  Result Call(Method method, std::vector<Value> params) { return terminal_.Call(method, std::move(params)); }
  Result Upload(const std::string& xml) { return Call(kUnloadTask, {Value::Int(terminal_.device), Value::Text(xml)}); }
  Result Download() { return Call(kDownloadTable, {Value::Int(terminal_.device), Value()}); }

  // The command names the terminal received since the last look.
  std::vector<std::string> RequestsSoFar() { return terminal_.RequestsSoFar(); }

  fs::path TerminalPodbor() const { return terminal_.root / "Merxa5" / "Order" / "Podbor.db"; }
  fs::path TerminalOrders() const { return terminal_.root / "Merxa5" / "Order" / "Orders.db"; }

  // A task file on the terminal, as a terminal that already holds tasks has.
  void SeedTerminalPodbor(const std::string& sql) {
    fs::create_directories(TerminalPodbor().parent_path());
    Db db(TerminalPodbor().string());
    for (const std::string& s : RegistryCreationStatements()) db.Exec(s);
    db.Exec(sql);
  }

  bool AnyWrite(const std::vector<std::string>& requests) {
    for (const auto& r : requests) {
      if (r.rfind("WriteFile", 0) == 0 || r.rfind("CreateFile", 0) == 0 || r.rfind("DeleteFile", 0) == 0) return true;
    }
    return false;
  }

  test::ScratchTempDir scratch_;
  TerminalDialogs dialogs_;
  test::SimTerminal terminal_;
};

// ---- The terminal's identity file ---------------------------------------------

// What the terminal's identity file holds, or "" when it has none.
std::string IdentityOn(const fs::path& root) {
  const fs::path file = root / "VemlarTSD.id";
  return fs::exists(file) ? ReadBytes(file.string()) : std::string();
}

TEST_F(TerminalTest, IdentityIsWrittenOnceAndReadOnEachConnection) {
  Connect();
  ASSERT_EQ(Upload(kTask).ret, Value::Int(1));
  const std::string written = IdentityOn(terminal_.root);
  std::string id;
  ASSERT_TRUE(ParseTerminalId(written, id)) << written;
  EXPECT_EQ(written, id + "\r\n");
  // After the version query and before the task file is fetched.
  const std::vector<std::string> first = terminal_.IdentityRequestsSoFar();
  ASSERT_GE(first.size(), 9u);
  EXPECT_EQ(std::vector<std::string>(first.begin() + 1, first.begin() + 9),
            (std::vector<std::string>{"ExistFile \\VemlarTSD.id", "GetHrpMaxBuffer", "ExistFile \\VemlarTSD.id",
                                      "CreateFile \\VemlarTSD.id", "OpenFile \\VemlarTSD.id", "WriteFile",
                                      "CloseFile", "ExistFile Merxa5\\Order\\Podbor.db"}));
  // Known for the rest of the connection: the next call asks nothing of it.
  dialogs_.Answer(BoxAnswer::Yes);
  ASSERT_EQ(Upload(kTask).ret, Value::Int(1));
  const std::vector<std::string> second = terminal_.IdentityRequestsSoFar();
  EXPECT_EQ(std::count(second.begin(), second.end(), "ExistFile \\VemlarTSD.id"), 0);
  // A new connection reads it, and nothing is written.
  terminal_.Stop();
  terminal_.Prepare(scratch_.path(), test::FreePort());
  Connect();
  dialogs_.Answer(BoxAnswer::Yes);
  ASSERT_EQ(Upload(kTask).ret, Value::Int(1));
  const std::vector<std::string> third = terminal_.IdentityRequestsSoFar();
  EXPECT_EQ(std::vector<std::string>(third.begin() + 1, third.begin() + 7),
            (std::vector<std::string>{"ExistFile \\VemlarTSD.id", "OpenFile \\VemlarTSD.id", "GetHrpMaxBuffer",
                                      "LengthFile", "ReadFile", "CloseFile"}));
  EXPECT_EQ(IdentityOn(terminal_.root), written);
}

TEST_F(TerminalTest, IdentityFileThatHoldsNoIdentifierIsReplaced) {
  for (const std::string& content : {std::string("not an identifier\r\n"), std::string(200, 'a'), std::string()}) {
    SCOPED_TRACE(content.substr(0, 20));
    fs::create_directories(terminal_.root);
    std::ofstream(terminal_.root / "VemlarTSD.id", std::ios::binary) << content;
    Connect();
    ASSERT_EQ(Upload(kTask).ret, Value::Int(1));
    std::string id;
    EXPECT_TRUE(ParseTerminalId(IdentityOn(terminal_.root), id)) << IdentityOn(terminal_.root);
    terminal_.Stop();
    terminal_.Prepare(scratch_.path(), test::FreePort());
    fs::remove(TerminalPodbor());
  }
}

TEST_F(TerminalTest, TerminalThatCannotHoldTheIdentityWorksWithoutCopies) {
  // A directory where the identity file would go: the terminal can neither
  // give nor take the file.
  fs::create_directories(terminal_.root / "VemlarTSD.id");
  Connect();
  const Result r = Upload(kTask);
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(Db(TerminalPodbor().string()).Rows("SELECT Name FROM Registry"), (Rows{{"Picking 7"}}));
  EXPECT_TRUE(platform::FileNamesEndingWith(TempDir(), ".kept").empty());
}

// ---- UnloadTaskForSelection -------------------------------------------------

TEST_F(TerminalTest, NewTaskReachesTheTerminalWithoutQuestion) {
  Connect();
  SeedTerminalPodbor(
      "INSERT INTO Registry(N,Name,RealName) VALUES (1,'Old A','0000000001');"
      "INSERT INTO Registry(N,Name,RealName) VALUES (2,'Old B','0000000002')");

  const Result r = Upload(kTask);
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_TRUE(dialogs_.boxes.empty());

  Db db(TerminalPodbor().string());
  const Rows registry = db.Rows("SELECT N,Name,RealName,Date,Attr_2,Attr_3,Attr_4,Attr_5 FROM Registry WHERE N=3");
  ASSERT_EQ(registry.size(), 1u);
  EXPECT_EQ(registry[0][1], "Picking 7");
  const std::string key = registry[0][2];
  EXPECT_EQ(key.substr(0, 4), "0000");
  EXPECT_EQ(key.find_first_not_of("0123456789"), std::string::npos) << key;
  // The date text ends with the time the key was made of.
  const std::string date = registry[0][3];
  std::string timeDigits;
  for (char c : date.substr(date.find(' ') + 1)) {
    if (c != ':') timeDigits += c;
  }
  EXPECT_EQ("0000" + timeDigits, key);
  EXPECT_EQ((std::vector<std::string>{registry[0][4], registry[0][5], registry[0][6], registry[0][7]}),
            (std::vector<std::string>{"3", "3", "0", "0.00"}));
  EXPECT_EQ(db.Rows("SELECT Articule,Value FROM order_podbor_" + key + " ORDER BY N"),
            (Rows{{"4601", "3"}, {"4602", "1.5"}, {"4603", "10"}}));
  for (const char* prefix : {"order_", "order_d_", "order_sn_"}) {
    EXPECT_TRUE(db.Rows(std::string("SELECT * FROM ") + prefix + key).empty()) << prefix;
  }
  // Pieces of one transfer are counted once.
  std::vector<std::string> requests = RequestsSoFar();
  requests.erase(std::unique(requests.begin(), requests.end()), requests.end());
  EXPECT_EQ(requests,
            (std::vector<std::string>{"GetFuture ProgrammVersion", "ExistFile Merxa5\\Order\\Podbor.db",
                                      "OpenFile Merxa5\\Order\\Podbor.db", "GetHrpMaxBuffer", "LengthFile",
                                      "ReadFile", "CloseFile", "GetHrpMaxBuffer",
                                      "ExistFile Merxa5\\Order\\Podbor.db", "DeleteFile Merxa5\\Order\\Podbor.db",
                                      "CreateFile Merxa5\\Order\\Podbor.db", "OpenFile Merxa5\\Order\\Podbor.db",
                                      "WriteFile", "CloseFile"}));
}

TEST_F(TerminalTest, FirstTaskOnATerminalWithoutTaskFile) {
  Connect();
  ASSERT_FALSE(fs::exists(TerminalPodbor()));
  const Result r = Upload("<Table PodborName=\"First\"><Record a=\"1\" b=\"2\"/></Table>");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(Db(TerminalPodbor().string()).Rows("SELECT N,Name FROM Registry"), (Rows{{"1", "First"}}));
}

TEST_F(TerminalTest, ReplacementYesDropsOldTaskKeepsItsNumber) {
  Connect();
  SeedTerminalPodbor(
      "INSERT INTO Registry(N,Name,RealName) VALUES (1,'Other','0000000001');"
      "INSERT INTO Registry(N,Name,RealName) VALUES (2,'Picking 7','0000000002');"
      "INSERT INTO Registry(N,Name,RealName) VALUES (5,'Stray','0000000002');"
      "CREATE TABLE order_0000000002(N INTEGER);CREATE TABLE order_d_0000000002(N INTEGER);"
      "CREATE TABLE order_podbor_0000000002(N INTEGER);CREATE TABLE order_sn_0000000002(N INTEGER);");
  dialogs_.Answer(BoxAnswer::Yes);
  const Result r = Upload(kTask);
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  ASSERT_EQ(dialogs_.boxes.size(), 1u);
  EXPECT_EQ(dialogs_.boxes[0].text,
            "In TSD, the task of selecting the name Picking 7 already exists. Delete the task and upload a new one? "
            "If you click No, the download will be canceled.");

  Db db(TerminalPodbor().string());
  const Rows registry = db.Rows("SELECT N,Name,RealName FROM Registry ORDER BY N");
  ASSERT_EQ(registry.size(), 2u);
  EXPECT_EQ(registry[0], (std::vector<std::string>{"1", "Other", "0000000001"}));
  EXPECT_EQ(registry[1][0], "2");
  EXPECT_EQ(registry[1][1], "Picking 7");
  EXPECT_NE(registry[1][2], "0000000002");
  EXPECT_TRUE(db.Rows("SELECT name FROM sqlite_master WHERE name LIKE '%0000000002'").empty());
}

TEST_F(TerminalTest, ReplacementNoCancelsAndSendsNothing) {
  Connect();
  SeedTerminalPodbor("INSERT INTO Registry(N,Name,RealName) VALUES (1,'Picking 7','0000000002')");
  const std::string before = ReadBytes(TerminalPodbor().string());
  dialogs_.Answer(BoxAnswer::No);
  const Result r = Upload(kTask);
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.error, "7Unloading canceled by the user.");
  EXPECT_TRUE(ReadBytes(TerminalPodbor().string()) == before) << "the terminal's file changed";
  EXPECT_FALSE(AnyWrite(RequestsSoFar()));
}

TEST_F(TerminalTest, TasksStoredAsWrittenOnTheTerminal) {
  Connect();
  const struct {
    const char* what;
    const char* xml;
    const char* name;
    const char* count;
  } cases[] = {
      {"other first attribute", "<Table id=\"1\" PodborName=\"ignored\"><Record a=\"1\" b=\"1\"/></Table>", "", "1"},
      {"apostrophe", "<Table PodborName=\"Shop 'North'\"><Record a=\"O'Brien\" b=\"1\"/></Table>", "Shop 'North'",
       "1"},
      {"no Record element", "<Table PodborName=\"Record-free\"></Table>", "Record-free", "0"},
  };
  int n = 0;
  for (const auto& c : cases) {
    // One task per second of the clock: wait for a fresh key.
    if (n++ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const Result r = Upload(c.xml);
    ASSERT_EQ(r.ret, Value::Int(1)) << c.what << ": " << r.error;
    const Rows row = Db(TerminalPodbor().string())
                         .Rows("SELECT Name,Attr_2,RealName FROM Registry WHERE N=" + std::to_string(n));
    ASSERT_EQ(row.size(), 1u) << c.what;
    EXPECT_EQ(row[0][0], c.name) << c.what;
    EXPECT_EQ(row[0][1], c.count) << c.what;
  }
  EXPECT_TRUE(dialogs_.boxes.empty());
  EXPECT_EQ(Db(TerminalPodbor().string()).Rows("SELECT Articule FROM order_podbor_" +
                                               Db(TerminalPodbor().string()).Rows(
                                                   "SELECT RealName FROM Registry WHERE N=2")[0][0]),
            (Rows{{"O'Brien"}}));
}

// The link breaks in the middle of sending the task file back: the terminal
// is left with part of it. The configuration closes, opens and calls again;
// the copy that was being sent takes the place of the broken file, so the
// earlier tasks are still there, with the new task once.
TEST_F(TerminalTest, TaskFileCutOffInItsSendKeepsEveryTask) {
  SeedTerminalPodbor(
      "INSERT INTO Registry(N,Name,RealName) VALUES (1,'Old A','0000000001');"
      "INSERT INTO Registry(N,Name,RealName) VALUES (2,'Old B','0000000002');"
      "CREATE TABLE padding(x TEXT);"
      "INSERT INTO padding VALUES (hex(randomblob(3000)))");
  const auto size = static_cast<int>(fs::file_size(TerminalPodbor()));
  const int reads = (size + 1023) / 1024;
  // Version; the identity file written (ExistFile, GetHrpMaxBuffer,
  // ExistFile, CreateFile, OpenFile, WriteFile, CloseFile); ExistFile,
  // OpenFile, GetHrpMaxBuffer, LengthFile, the reads, CloseFile; then
  // GetHrpMaxBuffer, ExistFile, DeleteFile, CreateFile, OpenFile and the
  // second piece.
  const int second_piece = 1 + 7 + 4 + reads + 1 + 5 + 2;
  Connect({"--max-packet", "1024", "--close-at", std::to_string(second_piece), "--reconnect", "1"});
  const Result failed = Upload(kTask);
  ASSERT_EQ(failed.ret, Value::Int(0));
  EXPECT_EQ(failed.error, "4TSD Disconnected.");
  EXPECT_LT(fs::file_size(TerminalPodbor()), static_cast<std::uintmax_t>(size));

  ASSERT_EQ(Call(kClose, {Value::Int(terminal_.device)}).ret, Value::Int(1));
  const Result reopened = Call(kOpen, {Value()});
  ASSERT_EQ(reopened.ret, Value::Int(1)) << reopened.error;
  terminal_.device = reopened.params[0].ToInt32();
  // The terminal gets back what it held before the failed call, so the
  // repeat is a first try again: nothing to replace, nothing asked.
  const Result retried = Upload(kTask);
  ASSERT_EQ(retried.ret, Value::Int(1)) << retried.error;
  EXPECT_TRUE(dialogs_.boxes.empty());
  Db db(TerminalPodbor().string());
  EXPECT_EQ(db.Rows("SELECT Name FROM Registry ORDER BY Name"), (Rows{{"Old A"}, {"Old B"}, {"Picking 7"}}));
  EXPECT_EQ(db.Rows("SELECT count(*) FROM padding"), (Rows{{"1"}}));
  // Sent whole, the copy is not kept any longer.
  EXPECT_TRUE(platform::FileNamesEndingWith(TempDir(), ".kept").empty());
}

// An empty "Podbor.db" is what a send that never wrote its first piece
// leaves: it counts as none, and the task starts a fresh task file.
TEST_F(TerminalTest, EmptyTaskFileOnTheTerminalCountsAsNone) {
  Connect();
  fs::create_directories(TerminalPodbor().parent_path());
  std::ofstream(TerminalPodbor()).close();
  ASSERT_EQ(fs::file_size(TerminalPodbor()), 0u);
  const Result r = Upload(kTask);
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  Db db(TerminalPodbor().string());
  EXPECT_EQ(db.Rows("SELECT N,Name FROM Registry"), (Rows{{"1", "Picking 7"}}));
}

platform::LocalDateTimeText At101010() { return {"10.12.2026", "10:10:10"}; }

// A terminal that deleted a task before the last one, and a task made at the
// same time of another day: the new task reaches the terminal all the same,
// numbered after the largest number, under the next free key.
TEST_F(TerminalTest, GapsAndKeysOfAnotherDayReachTheTerminal) {
  Connect();
  SeedTerminalPodbor(
      "INSERT INTO Registry(N,Name,RealName) VALUES (1,'a','0000000001');"
      "INSERT INTO Registry(N,Name,RealName) VALUES (3,'Yesterday','0000101010');"
      "CREATE TABLE order_0000101010(N INTEGER)");
  UnloadTaskForSelection(Session(), kTask, At101010);
  Db db(TerminalPodbor().string());
  EXPECT_EQ(db.Rows("SELECT N,Name,RealName FROM Registry ORDER BY N"),
            (Rows{{"1", "a", "0000000001"}, {"3", "Yesterday", "0000101010"}, {"4", "Picking 7", "0000101011"}}));
  EXPECT_EQ(db.Rows("SELECT count(*) FROM order_podbor_0000101011"), (Rows{{"3"}}));
}

TEST_F(TerminalTest, OtherVersionTransfersNothing) {
  Connect({"--version", "4.1.7"});
  const Result r = Upload(kTask);
  EXPECT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(RequestsSoFar(), (std::vector<std::string>{"GetFuture ProgrammVersion"}));
  EXPECT_FALSE(fs::exists(TerminalPodbor()));
}

TEST_F(TerminalTest, UnloadChecksRunInOrder) {
  Connect();
  const Value obj = Value::Object();
  const Value dev = Value::Int(terminal_.device);
  const Value other = Value::Int(terminal_.device + 1000);
  const struct {
    Value v0, v1;
    const char* message;
  } cases[] = {
      {obj, obj, "7Error while unloading a selection, wrong data type of the parameter device ID."},
      {Value::Int(0), obj, "7Error while unloading in the selection, wrong data type of the parameter table Landings."},
      {Value(), Value::Text(""), "7Error while unloading a selection parameter Device ID blank."},
      {Value::Text("0"), Value::Text("x"), "7Error while unloading a selection parameter Device ID blank."},
      {other, Value::Text(""), "7Error while unloading a selection parameter table Landings empty."},
      {other, Value::Text("<Table PodborName=\"x\"/>"), "7Error while unloading table, no data to upload."},
      {other, Value::Text("<Table Name=\"x\"><Record/></Table>"),
       "7Error while unloading selection in the table XML missing PodborName."},
      {other, Value::Text(kTask), "7Error while unloading selection, devices with the specified ID is not connected."},
      {dev, Value::Text("Record PodborName"), "7XML is invalid, check the parameter Xml Table."},
  };
  for (const auto& c : cases) {
    const Result r = Call(kUnloadTask, {c.v0, c.v1});
    EXPECT_EQ(r.ret, Value::Int(0));
    EXPECT_EQ(r.error, c.message);
  }
  ConnectionSettings().TimeOut = -1;
  EXPECT_NE(Call(kUnloadTask, {obj, obj}).error.rfind("8", 0), std::string::npos)
      << "the settings check comes first";
}

// ---- DownloadTable ----------------------------------------------------------

void WriteDocuments(const fs::path& file, const std::string& json) {
  std::string error;
  fs::create_directories(file.parent_path());
  ASSERT_TRUE(merxa::WriteOrdersDatabase(file, json, error)) << error;
}

const char kThreeOrders[] = R"({"documents": [
  {"name": "Order A", "key": "A1", "lines": [["100", "1"], ["101", "2"]]},
  {"name": "Order B", "key": "B1", "lines": [["200", "5"]]},
  {"name": "Empty", "key": "E1", "lines": []},
  {"name": "Order C", "key": "C1", "lines": [["300&<'x'", null]]}
]})";

TEST_F(TerminalTest, DownloadWithoutSourceChoiceReadsOrders) {
  Connect();
  WriteDocuments(TerminalOrders(), kThreeOrders);
  dialogs_.Ok({3, 0, 1});  // clicked out of order, returned in list order
  const Result r = Download();
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  ASSERT_EQ(dialogs_.windows.size(), 1u);
  EXPECT_FALSE(dialogs_.windows[0].choose_source);
  EXPECT_EQ(dialogs_.windows[0].items, (std::vector<std::string>{"Order A", "Order B", "Empty", "Order C"}));
  const std::string xml = r.params[1].ToText();
  EXPECT_EQ(xml,
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Table>\r\n"
            "<Record BarCode='100' Quantity='1'/>\r\n"
            "<Record BarCode='101' Quantity='2'/>\r\n"
            "<Record BarCode='200' Quantity='5'/>\r\n"
            "<Record BarCode='300&amp;&lt;&apos;x&apos;' Quantity=''/>\r\n"
            "</Table>");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(xml.c_str()));
  EXPECT_STREQ(doc.child("Table").last_child().attribute("BarCode").value(), "300&<'x'");
  // Fetched from the directory the terminal names for orders; nothing sent back.
  EXPECT_FALSE(AnyWrite(RequestsSoFar()));
}

TEST_F(TerminalTest, DownloadFailures) {
  Connect();
  // No Orders.db on the terminal.
  Result r = Download();
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.error, "4The requested file is missing on the device.");
  EXPECT_TRUE(dialogs_.windows.empty());

  WriteDocuments(TerminalOrders(), kThreeOrders);
  dialogs_.Ok({2});
  r = Download();
  EXPECT_EQ(r.error, "6No data to download, empty the selected task.");
  EXPECT_TRUE(r.params[1].IsEmpty());

  WriteDocuments(TerminalOrders(), R"({"documents": [{"name": "Twin", "key": "T1", "lines": [["1", "1"]]},
                                                      {"name": "Twin", "key": "T2", "lines": [["2", "2"]]}]})");
  dialogs_.Ok({1});
  r = Download();
  EXPECT_EQ(r.error,
            "№At TSD There are two identical job, 'Twin'. Such a situation is not possible, remove one of the tasks");

  dialogs_.Window(SelectionWindowEvent::Cancel);
  dialogs_.Answer(BoxAnswer::No);
  dialogs_.Window(SelectionWindowEvent::Close);
  dialogs_.Answer(BoxAnswer::Yes);
  r = Download();
  EXPECT_EQ(r.error, "6Download canceled by user.");
  EXPECT_TRUE(r.params[1].IsEmpty());
}

TEST_F(TerminalTest, DownloadRefusesOtherVersions) {
  Connect({"--version", "4.1.7"});
  const Result r = Download();
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.error, "4Version Merxa 4.1.7 Is not supported by this driver.");
  EXPECT_EQ(RequestsSoFar(), (std::vector<std::string>{"GetFuture ProgrammVersion"}));
  SetMessageLanguage(Language::Russian);
  EXPECT_EQ(Download().error, "4Версия Merxa 4.1.7 Не поддерживается данным драйвером.");
}

TEST_F(TerminalTest, SourcePodborWithoutTaskFileOffersEmptyList) {
  ConnectionSettings().ChooseDownloadSource = true;
  Connect();
  dialogs_.Ok({1});                            // source: Podbor
  dialogs_.Ok({});                             // documents: nothing to choose
  dialogs_.Answer(BoxAnswer::Ok);              // the notice
  dialogs_.Window(SelectionWindowEvent::Cancel);
  dialogs_.Answer(BoxAnswer::Yes);
  const Result r = Download();
  EXPECT_EQ(r.error, "6Download canceled by user.");
  ASSERT_EQ(dialogs_.windows.size(), 3u);
  EXPECT_TRUE(dialogs_.windows[0].choose_source);
  EXPECT_EQ(dialogs_.windows[0].items, (std::vector<std::string>{"Orders", "Podbor"}));
  EXPECT_TRUE(dialogs_.windows[1].items.empty());
  EXPECT_EQ(dialogs_.boxes[0].text, "Unspecified not one line!");
}

TEST_F(TerminalTest, SourceWindowCancelEndsTheCall) {
  ConnectionSettings().ChooseDownloadSource = true;
  Connect();
  dialogs_.Window(SelectionWindowEvent::Destroyed);
  const Result r = Download();
  EXPECT_EQ(r.error, "6Download canceled by user.");
  EXPECT_EQ(RequestsSoFar(), (std::vector<std::string>{"GetFuture ProgrammVersion"}));
}

// The whole day: a task goes out, the operator collects it, the finished
// task comes back as a document.
TEST_F(TerminalTest, UploadedTaskComesBackAfterPicking) {
  ConnectionSettings().ChooseDownloadSource = true;
  Connect({"--pick"});
  ASSERT_EQ(Upload(kTask).ret, Value::Int(1)) << GetReportedErrorText();

  SetMessageLanguage(Language::Russian);
  dialogs_.Ok({1});  // "Подбор"
  dialogs_.Ok({0});
  const Result r = Download();
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(dialogs_.windows[0].items, (std::vector<std::string>{"Накладные", "Подбор"}));
  EXPECT_EQ(dialogs_.windows[1].items, (std::vector<std::string>{"Picking 7"}));
  EXPECT_EQ(r.params[1].ToText(),
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n<Table>\r\n"
            "<Record BarCode='4601' Quantity='3'/>\r\n"
            "<Record BarCode='4602' Quantity='1.5'/>\r\n"
            "<Record BarCode='4603' Quantity='10'/>\r\n"
            "</Table>");
}

TEST_F(TerminalTest, DownloadChecksRunInOrder) {
  Connect();
  const struct {
    Value v0;
    const char* message;
  } cases[] = {
      {Value::Object(), "6Error while loading table, wrong data type of the parameter device ID."},
      {Value(), "6Error while unloading table, setting the device ID is empty."},
      {Value::Int(terminal_.device + 1000), "6Error when loading tables Devices with specified ID is not connected."},
  };
  for (const auto& c : cases) {
    const Result r = Call(kDownloadTable, {c.v0, Value()});
    EXPECT_EQ(r.ret, Value::Int(0));
    EXPECT_EQ(r.error, c.message);
  }
  // The device ID as the decimal text of the connection's number passes.
  dialogs_.Window(SelectionWindowEvent::Cancel);
  dialogs_.Answer(BoxAnswer::Yes);
  WriteDocuments(TerminalOrders(), kThreeOrders);
  EXPECT_EQ(Call(kDownloadTable, {Value::Text(std::to_string(terminal_.device)), Value()}).error,
            "6Download canceled by user.");
}

}  // namespace
}  // namespace vtsd
