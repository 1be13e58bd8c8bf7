// UploadTable and ClearTable through the method frame against the terminal
// simulator over a loopback connection: the handlers' checks in their order,
// the package sequences of an upload, and the files that reach the terminal,
// read back with SQLite from the simulator's root.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "addin/dispatch.hpp"
#include "base/settings.hpp"
#include "catalogue/upload_state.hpp"
#include "link/connection.hpp"
#include "options.hpp"
#include "simulator.hpp"
#include "tests/support/free_port.hpp"
#include "tests/support/sim_terminal.hpp"
#include "tests/support/vector_params.hpp"
#include "tests/support/sqlite_file.hpp"

namespace vtsd {
namespace {

namespace fs = std::filesystem;
using test::VectorParams;
using test::Cell;
using test::Row;
using test::SqliteFile;
using Rows = std::vector<Row>;

enum Method { kGetLastError = 5, kUploadTable = 10, kClearTable = 13 };

// Sets or clears the immutable attribute of a file, which makes it impossible
// to delete even for root. False where the file system does not allow it.
bool SetImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

// One package of an article table: each record lists its attributes in order.
std::string Package(const std::vector<std::vector<std::pair<std::string, std::string>>>& records) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Table>\r\n";
  for (const auto& record : records) {
    xml += "<Record";
    for (const auto& [name, value] : record) xml += " " + name + "=\"" + value + "\"";
    xml += "/>\r\n";
  }
  return xml + "</Table>";
}

// Records of key, name and unit, keys numbered from `first`.
std::string SimplePackage(int first, int count, const std::string& name = "Tea") {
  std::vector<std::vector<std::pair<std::string, std::string>>> records;
  for (int i = first; i < first + count; ++i) {
    records.push_back({{"Articule", "A" + std::to_string(i)}, {"Name", name}, {"Unit", "pcs"}});
  }
  return Package(records);
}

class UploadTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::Russian);
    CatalogueUploadState() = UploadState{};
    ActiveUploadTerminal().clear();
    WaitingUploads().clear();
    terminal_.Prepare(scratch_.path(), test::FreePort());
  }

  void TearDown() override {
    terminal_.Stop();
    CatalogueUploadState() = UploadState{};
  }

  // Starts the simulator with extra arguments and opens the connection.
  void Connect(std::vector<std::string> extra = {}) { terminal_.Connect(std::move(extra)); }

  using Result = test::SimTerminal::Result;
  Result Call(Method method, std::vector<Value> params) { return terminal_.Call(method, std::move(params)); }
  Result Upload(const std::string& xml, const std::string& status) {
    return Call(kUploadTable, {Value::Int(terminal_.device), Value::Text(xml), Value::Text(status)});
  }
  Result Clear() { return Call(kClearTable, {Value::Int(terminal_.device)}); }

  // The requests the terminal received since the last look, as command and
  // path or key; the pieces of one transfer count once.
  std::vector<std::string> RequestsSoFar() {
    std::vector<std::string> names = terminal_.RequestsSoFar();
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
  }

  static bool Touches(const std::vector<std::string>& requests, const std::string& path) {
    return std::any_of(requests.begin(), requests.end(), [&](const std::string& r) {
      return r.size() >= path.size() && r.compare(r.size() - path.size(), path.size(), path) == 0 &&
             r.rfind("ExistFile", 0) != 0;
    });
  }

  fs::path TerminalCatalogue() const { return terminal_.root / "Merxa5" / "Merxa.db"; }
  fs::path TerminalSettings() const { return terminal_.root / "MerxaSetup.db"; }

  Rows TerminalArticles(const std::string& columns = "Articule,Field_2,Field_3") {
    return SqliteFile(TerminalCatalogue().string()).Rows("select " + columns + " from Articule order by N");
  }
  Rows TerminalBarcodes() {
    return SqliteFile(TerminalCatalogue().string()).Rows("select Barcode,Articule,Value from Barcodes order by N");
  }
  Rows TerminalSettingsRows() {
    return SqliteFile(TerminalSettings().string()).Rows("select parameter,value from Merxa_5_123 order by parameter");
  }

  test::ScratchTempDir scratch_;
  test::SimTerminal terminal_;
};

Rows KeysNamesUnits(int first, int count, const std::string& name = "Tea") {
  Rows rows;
  for (int i = first; i < first + count; ++i) rows.push_back({"A" + std::to_string(i), name, "pcs"});
  return rows;
}

// ---- Checks of the handlers, in order ---------------------------------------------

const char kDeviceWrongType[] = "5Ошибка при выгрузке таблицы,неверный тип данных у параметра ИД устройства.";
const char kTableWrongType[] = "5Ошибка при выгрузке таблицы,неверный тип данных у параметра ТаблицаТоваров.";
const char kStatusWrongType[] = "5Ошибка при выгрузке таблицы,неверный тип данных у параметра Статус Пакета.";
const char kDeviceEmpty[] = "5Ошибка при выгрузке таблицы,параметр ИД устройства пустой.";
const char kNoData[] = "5Ошибка при выгрузке таблицы,Нет данных для выгрузки.";
const char kStatusEmpty[] = "5Ошибка при выгрузке таблицы,параметр Статус Пакета пустой.";
const char kNotConnected[] = "5Ошибка при выгрузки таблицы,Устройства с заданным ID не подключено.";
const char kStatusInvalid[] = "5Ошибка при выгрузки Таблицы,Параметр СтатусПакета некорректный.";

TEST_F(UploadTerminal, UploadTableChecksItsParametersInOrder) {
  Connect();
  const Value device = Value::Int(terminal_.device);
  const Value other = Value::Int(terminal_.device + 1);
  const Value table = Value::Text(SimplePackage(1, 1));
  const Value noRecord = Value::Text("<Table><record a=\"1\"/></Table>");
  const Value object = Value::Object();
  struct Case {
    const char* name;
    std::vector<Value> params;
    const char* error;
  };
  const Case cases[] = {
      {"device without text form", {object, noRecord, Value()}, kDeviceWrongType},
      {"table without text form", {device, object, object}, kTableWrongType},
      {"status without text form", {Value(), noRecord, object}, kStatusWrongType},
      {"empty device before no data", {Value(), noRecord, Value()}, kDeviceEmpty},
      {"device 0", {Value::Int(0), table, Value::Text("last")}, kDeviceEmpty},
      {"device text 0", {Value::Text("0"), table, Value::Text("last")}, kDeviceEmpty},
      {"no data before empty status", {device, noRecord, Value::Text("")}, kNoData},
      {"empty status before unknown device", {other, table, Value()}, kStatusEmpty},
      {"unknown device before bad status", {other, table, Value::Text("Last")}, kNotConnected},
      {"status in other case", {device, table, Value::Text("Last")}, kStatusInvalid},
      {"status with leading blank", {device, table, Value::Text(" last")}, kStatusInvalid},
      {"status with extra letters", {device, table, Value::Text("lasts")}, kStatusInvalid},
      {"status first with extra letters", {device, table, Value::Text("firstly")}, kStatusInvalid},
      {"status regular in capitals", {device, table, Value::Text("REGULAR")}, kStatusInvalid},
      {"status of two words", {device, table, Value::Text("lastfirst")}, kStatusInvalid},
      {"unknown status", {device, table, Value::Text("middle")}, kStatusInvalid},
      {"status as a number", {device, table, Value::Int(1)}, kStatusInvalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = Call(kUploadTable, c.params);
    EXPECT_EQ(r.ret, Value::Int(0));
    EXPECT_EQ(r.error, c.error);
  }
  // None of them reached the terminal or created a local catalogue.
  EXPECT_EQ(RequestsSoFar(), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(scratch_.File("Merxa.db")));
  EXPECT_FALSE(CatalogueUploadState().UploadInProgress);
}

TEST_F(UploadTerminal, UploadTableNeedsSettingsFirstAndReportsLetterDevicesAsCode66) {
  Connect();
  ConnectionSettings().TimeOut = -1;
  Result r = Call(kUploadTable, {Value::Object(), Value::Object(), Value::Object()});
  EXPECT_EQ(r.error, "8Время ожидания не задан, задайте в настройках Время ожидания.");
  ConnectionSettings().TimeOut = 10;

  r = Call(kUploadTable, {Value::Text("abc"), Value::Text(SimplePackage(1, 1)), Value::Text("last")});
  EXPECT_EQ(r.ret, Value::Int(0));
  VectorParams params({Value()});
  Value code;
  CallDriverMethod(kGetLastError, code, params);
  EXPECT_EQ(code, Value::Int(66)) << r.error;
  EXPECT_EQ(RequestsSoFar(), std::vector<std::string>{});
}

TEST_F(UploadTerminal, DeviceIdAsDecimalTextIsAccepted) {
  Connect();
  const Result r = Call(kUploadTable, {Value::Text(std::to_string(terminal_.device)), Value::Text(SimplePackage(1, 2)),
                                       Value::Text("last")});
  EXPECT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(TerminalArticles(), KeysNamesUnits(1, 2));
}

TEST_F(UploadTerminal, ClearTableChecksItsParametersInOrder) {
  Connect();
  struct Case {
    const char* name;
    Value device;
    const char* error;
  };
  const Case cases[] = {
      {"device without text form", Value::Object(),
       "~Ошибка при очистке таблицы товаров,неверный тип данных у параметра ИД устройства."},
      {"empty device", Value(), "~Ошибка при очистке товарного справочника,параметр ИД устройства пустой."},
      {"device 0", Value::Int(0), "~Ошибка при очистке товарного справочника,параметр ИД устройства пустой."},
      {"unknown device", Value::Int(terminal_.device + 1),
       "~Ошибка при очистке товарного справочника,Устройства с заданным ID не подключено."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = Call(kClearTable, {c.device});
    EXPECT_EQ(r.ret, Value::Int(0));
    EXPECT_EQ(r.error, c.error);
  }
  SetMessageLanguage(Language::English);
  EXPECT_EQ(Call(kClearTable, {Value::Int(terminal_.device + 1)}).error,
            "~Error while unloading commercial cleaning directory, devices with the specified ID is not connected.");
  EXPECT_EQ(RequestsSoFar(), std::vector<std::string>{});
}

// ---- One upload, end to end -----------------------------------------------------------

TEST_F(UploadTerminal, OneLastCallFinishesCaptionsAndSendsTheCatalogue) {
  Connect();
  // Nine attributes: key, name, unit, characteristic (empty everywhere),
  // series, quality, price, quantity, coefficient.
  auto record = [](const char* key, const char* name, const char* price, const char* coefficient) {
    return std::vector<std::pair<std::string, std::string>>{
        {"Articule", key}, {"Name", name},   {"Unit", "pcs"},   {"Characteristic", ""}, {"Series", "S"},
        {"Quality", "A"},  {"Price", price}, {"Quantity", "1"}, {"Coefficient", coefficient}};
  };
  const Result r = Upload(Package({record("4601", "Чай &quot;Лотос&quot;", "10.50", "0"),
                                   record("4601-12", "Чай &quot;Лотос&quot;", "126", "12"),
                                   record("4602", "O'Neil", "3", "1"),
                                   record("4602-6", "O'Neil", "18", "6"),
                                   record("4603-6", "Orphan", "1", "6")}),
                          "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_FALSE(CatalogueUploadState().UploadInProgress);
  EXPECT_FALSE(CatalogueUploadState().PackagesPresent);

  // The characteristic column is gone; everything after it moved left.
  EXPECT_EQ(TerminalArticles("N,Articule,Field_2,Field_3,Field_4,Field_5,Field_6,Field_7,Field_8,Field_9"),
            (Rows{{"1", "4601", "Чай \"Лотос\"", "pcs", "S", "A", "10.50", "1", "0", Cell()},
                  {"2", "4601-12", "Чай \"Лотос\"", "pcs", "S", "A", "126", "1", "12", Cell()},
                  {"3", "4602", "O'Neil", "pcs", "S", "A", "3", "1", "1", Cell()},
                  {"4", "4602-6", "O'Neil", "pcs", "S", "A", "18", "1", "6", Cell()},
                  {"5", "4603-6", "Orphan", "pcs", "S", "A", "1", "1", "6", Cell()}}));
  EXPECT_EQ(TerminalBarcodes(), (Rows{{"4601-12", "4601", "12"}, {"4602-6", "4602", "6"}}));
  // The terminal gets exactly the catalogue's schema: no work table, no
  // lookup index.
  EXPECT_EQ(SqliteFile(TerminalCatalogue().string())
                .Rows("select type,name from sqlite_master where name not like 'sqlite_%' order by name"),
            (Rows{{"table", "Articule"},
                  {"table", "Articule_Fields"},
                  {"index", "Articule_index_Articule"},
                  {"index", "Articule_index_Barcodes"},
                  {"index", "Barcode_index_Barcodes"},
                  {"table", "Barcodes"}}));

  EXPECT_EQ(TerminalSettingsRows(), (Rows{{"Merxa.FieldName_001", "Наименование"},
                                          {"Merxa.FieldName_002", "Единица Измерения"},
                                          {"Merxa.FieldName_003", "Серия"},
                                          {"Merxa.FieldName_004", "Качество"},
                                          {"Merxa.FieldName_005", "Цена"},
                                          {"Merxa.FieldName_006", "Количество"},
                                          {"Merxa.FieldName_007", "Коэффициент"},
                                          {"Merxa.FieldName_008", ""},
                                          {"Merxa.NameAttrNumber", "2"},
                                          {"Merxa.PriceAttrNumber", "6"}}));

  // The settings file is fetched and sent back before the catalogue goes.
  EXPECT_EQ(RequestsSoFar(),
            (std::vector<std::string>{"GetFuture ProgrammVersion", "ExistFile \\MerxaSetup.db",
                                      "OpenFile \\MerxaSetup.db", "GetHrpMaxBuffer", "LengthFile", "ReadFile",
                                      "CloseFile", "GetHrpMaxBuffer", "ExistFile \\MerxaSetup.db",
                                      "DeleteFile \\MerxaSetup.db", "CreateFile \\MerxaSetup.db",
                                      "OpenFile \\MerxaSetup.db", "WriteFile", "CloseFile", "GetFuture MerxaDir",
                                      "GetHrpMaxBuffer", "ExistFile \\Merxa5\\Merxa.db",
                                      "CreateFile \\Merxa5\\Merxa.db", "OpenFile \\Merxa5\\Merxa.db",
                                      "WriteFile", "CloseFile"}));
}

// ---- Package sequences ------------------------------------------------------------

// A version whose characters make no plain table name: the captions reach
// the settings table "Merxa_5_0.1" all the same.
TEST_F(UploadTerminal, CaptionsReachTheTableOfAVersionWithDots) {
  Connect({"--version", "5.0.1"});
  const Result r = Upload(Package({{{"Articule", "4601"}, {"Name", "Tea"}}}), "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(SqliteFile(TerminalSettings().string())
                .Rows("select value from \"Merxa_5_0.1\" where parameter='Merxa.FieldName_001'"),
            (Rows{{"Наименование"}}));
}

TEST_F(UploadTerminal, FirstRegularRegularLastSendsOneCatalogueOnce) {
  Connect();
  const char* statuses[] = {"first", "regular", "regular", "last"};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(statuses[i]);
    const Result r = Upload(SimplePackage(10 * i, 3), statuses[i]);
    ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
    const auto requests = RequestsSoFar();
    EXPECT_EQ(Touches(requests, "Merxa.db"), i == 3);
    EXPECT_EQ(CatalogueUploadState().UploadInProgress, i != 3);
  }
  Rows expected;
  for (int i = 0; i < 4; ++i) {
    const Rows part = KeysNamesUnits(10 * i, 3);
    expected.insert(expected.end(), part.begin(), part.end());
  }
  EXPECT_EQ(TerminalArticles(), expected);
  EXPECT_EQ(TerminalArticles("N").back(), Row{"12"});
}

// Terminals in a cradle share one address: an upload in packages goes on on
// the terminal it began on, whatever other terminals get in between.
TEST_F(UploadTerminal, PackagesOfOneTerminalNeverReachAnother) {
  auto upload_to = [this](test::SimTerminal& t, const std::string& xml, const char* status) {
    return t.Call(kUploadTable, {Value::Int(t.device), Value::Text(xml), Value::Text(status)});
  };
  auto articles = [](const test::SimTerminal& t) {
    return SqliteFile((t.root / "Merxa5" / "Merxa.db").string()).Rows("select Articule from Articule order by N");
  };
  // A: "first" and "regular"; the connection ends, as between two calls of
  // a configuration that serves several terminals.
  Connect();
  ASSERT_EQ(Upload(SimplePackage(1, 2), "first").ret, Value::Int(1));
  ASSERT_EQ(Upload(SimplePackage(3, 1), "regular").ret, Value::Int(1));
  terminal_.Stop();

  // B: a lone "last" is an upload of its own.
  test::SimTerminal b;
  fs::create_directories(scratch_.path() / "b");
  b.Prepare(scratch_.path() / "b", test::FreePort());
  b.Connect();
  ASSERT_EQ(upload_to(b, SimplePackage(50, 1), "last").ret, Value::Int(1));
  EXPECT_EQ(articles(b), (Rows{{"A50"}}));
  // B again: "regular" without a "first" of B's own changes nothing there.
  ASSERT_EQ(upload_to(b, SimplePackage(60, 1), "regular").ret, Value::Int(1));
  b.Stop();
  EXPECT_EQ(articles(b), (Rows{{"A50"}}));

  // A again: its "last" finishes A's upload, with A's earlier packages.
  terminal_.Prepare(scratch_.path(), test::FreePort());
  Connect();
  const Result last = Upload(SimplePackage(4, 1), "last");
  ASSERT_EQ(last.ret, Value::Int(1)) << last.error;
  EXPECT_EQ(articles(terminal_), (Rows{{"A1"}, {"A2"}, {"A3"}, {"A4"}}));
  EXPECT_TRUE(WaitingUploads().empty()) << "nothing of B waits";
}

TEST_F(UploadTerminal, RegularWithoutFirstChangesNothing) {
  Connect();
  const Result r = Upload(SimplePackage(1, 2), "regular");
  EXPECT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(RequestsSoFar(), std::vector<std::string>{"GetFuture ProgrammVersion"});
  EXPECT_FALSE(fs::exists(scratch_.File("Merxa.db")));
  EXPECT_FALSE(CatalogueUploadState().UploadInProgress);
}

TEST_F(UploadTerminal, FirstDuringAnUnfinishedUploadStartsOver) {
  Connect();
  ASSERT_EQ(Upload(SimplePackage(1, 2), "first").ret, Value::Int(1));
  ASSERT_EQ(Upload(SimplePackage(3, 2), "regular").ret, Value::Int(1));
  ASSERT_EQ(Upload(SimplePackage(5, 2), "first").ret, Value::Int(1));
  const Result r = Upload(SimplePackage(7, 2), "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  Rows expected = KeysNamesUnits(5, 4);
  EXPECT_EQ(TerminalArticles(), expected);
}

TEST_F(UploadTerminal, FirstThatCannotReplaceTheOldFileEndsTheOldUpload) {
  Connect();
  ASSERT_EQ(Upload(SimplePackage(1, 2), "first").ret, Value::Int(1));
  if (!SetImmutable(scratch_.File("Merxa.db"), true)) GTEST_SKIP() << "no immutable files here";
  Result r = Upload(SimplePackage(3, 2), "first");
  SetImmutable(scratch_.File("Merxa.db"), false);
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.error, "5Ошибка при удаление временного Файла Merxa.db.");
  EXPECT_FALSE(CatalogueUploadState().UploadInProgress);

  // The old upload's rows must not reach the terminal with the next one.
  r = Upload(SimplePackage(5, 1), "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(TerminalArticles(), KeysNamesUnits(5, 1));
}

TEST_F(UploadTerminal, InvalidPackageMidUploadKeepsEarlierRows) {
  Connect();
  ASSERT_EQ(Upload(SimplePackage(1, 2), "first").ret, Value::Int(1));
  Result r = Upload("<Table><Record Articule=\"X\"></Table>", "regular");
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.error, "5XML не валидный, проверьте параметр XmlТаблица.");
  EXPECT_TRUE(CatalogueUploadState().UploadInProgress);
  r = Upload(SimplePackage(3, 1), "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(TerminalArticles(), KeysNamesUnits(1, 3));
}

TEST_F(UploadTerminal, NewUploadForgetsPackagesOfAnAbandonedOne) {
  Connect();
  // An upload with packages in its fourth attribute is abandoned after its
  // first package.
  ASSERT_EQ(Upload(Package({{{"Articule", "OLD"}, {"Name", "Tea"}, {"Unit", "pcs"}, {"Coefficient", "0"}}}), "first")
                .ret,
            Value::Int(1));
  // The next upload's fourth attribute is a price: nothing there is a package.
  ASSERT_EQ(Upload(Package({{{"Articule", "B1"}, {"Name", "Tea"}, {"Unit", "pcs"}, {"Price", "0"}}}), "first").ret,
            Value::Int(1));
  const Result r = Upload(Package({{{"Articule", "P1"}, {"Name", "Tea"}, {"Unit", "box"}, {"Price", "12"}}}), "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(TerminalArticles("Articule,Field_4"), (Rows{{"B1", "0"}, {"P1", "12"}}));
  EXPECT_EQ(TerminalBarcodes(), Rows{});
}

TEST_F(UploadTerminal, MissingSettingsFileStopsBeforeTheCatalogueIsSent) {
  Connect({"--no-setup"});
  Result r = Upload(SimplePackage(1, 2), "last");
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.error, "4Запрашиваемый файл на устройстве отсутствует.");
  EXPECT_FALSE(Touches(RequestsSoFar(), "Merxa.db"));
  EXPECT_FALSE(fs::exists(TerminalCatalogue()));
  // The package is in and finished locally; the upload waits for its "last".
  EXPECT_TRUE(CatalogueUploadState().UploadInProgress);

  // Once the terminal has its settings file, the same call again sends the
  // package once, not on top of the catalogue the failed call had finished.
  {
    SqliteFile setup(TerminalSettings().string());
    setup.Exec("CREATE TABLE Merxa_5_123 (parameter TEXT, value TEXT)");
    setup.Exec("INSERT INTO Merxa_5_123 VALUES ('Merxa.PriceAttrNumber', '9')");
  }
  r = Upload(SimplePackage(1, 2), "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(TerminalArticles(), KeysNamesUnits(1, 2));
  EXPECT_FALSE(CatalogueUploadState().UploadInProgress);
  // Captions of columns beyond those in use keep their defaults, the price's too.
  EXPECT_EQ(TerminalSettingsRows(), (Rows{{"Merxa.PriceAttrNumber", "7"}}));
}

// ---- A "last" that fails and is called again -------------------------------------------

// Three packages, each with a base unit and a package of it.
std::string PackageWithBox(const std::string& key, const std::string& name, const std::string& coefficient) {
  return Package({{{"Articule", key}, {"Name", name}, {"Unit", "pcs"}, {"Coefficient", "0"}},
                  {{"Articule", key + "-" + coefficient}, {"Name", name}, {"Unit", "box"}, {"Coefficient", coefficient}}});
}
const std::string kFirstPackage = PackageWithBox("A1", "Tea", "6");
const std::string kRegularPackage = PackageWithBox("B1", "Coffee", "12");
const std::string kLastPackage = PackageWithBox("C1", "Cocoa", "4");

const Rows kThreePackages = {{"A1", "Tea", "pcs"},    {"A1-6", "Tea", "box"},     {"B1", "Coffee", "pcs"},
                             {"B1-12", "Coffee", "box"}, {"C1", "Cocoa", "pcs"}, {"C1-4", "Cocoa", "box"}};
const Rows kThreePackagesBarcodes = {{"A1-6", "A1", "6"}, {"B1-12", "B1", "12"}, {"C1-4", "C1", "4"}};

// Where the "last" of a three-package upload fails: the terminal without its
// settings file, or the link broken while a file is being sent.
struct LastFailure {
  const char* name;
  bool no_settings_file;
  const char* broken_while_sending;  // the terminal path whose WriteFile breaks the link
  const char* message;
};

void PrintTo(const LastFailure& c, std::ostream* os) { *os << c.name; }

class RetriedLast : public UploadTerminal, public ::testing::WithParamInterface<LastFailure> {
 protected:
  // The number (from the simulator's start) of the first WriteFile after the
  // creation of `path` in a clean run of the three packages.
  size_t WriteRequestNumberOf(const std::string& path) {
    Connect();
    EXPECT_EQ(Upload(kFirstPackage, "first").ret, Value::Int(1));
    EXPECT_EQ(Upload(kRegularPackage, "regular").ret, Value::Int(1));
    EXPECT_EQ(Upload(kLastPackage, "last").ret, Value::Int(1));
    terminal_.Stop();
    std::ifstream in(terminal_.log);
    std::string line;
    size_t n = 0;
    bool created = false;
    while (std::getline(in, line)) {
      ++n;
      const auto entry = nlohmann::json::parse(line);
      const std::string command = entry.value("command", std::string());
      if (command == "CreateFile" && entry.value("path", std::string()) == path) created = true;
      if (created && command == "WriteFile") return n;
    }
    ADD_FAILURE() << "no WriteFile after CreateFile " << path;
    return 0;
  }

  // A fresh terminal root and request log.
  void ResetTerminal() {
    fs::remove_all(terminal_.root);
    fs::remove(terminal_.log);
    CatalogueUploadState() = UploadState{};
    terminal_.Prepare(scratch_.path(), test::FreePort());
  }
};

TEST_P(RetriedLast, RepeatedLastSendsEveryPackageExactlyOnce) {
  const LastFailure& c = GetParam();
  std::vector<std::string> options = {"--reconnect", "1"};
  if (c.no_settings_file) options.push_back("--no-setup");
  if (c.broken_while_sending != nullptr) {
    const size_t at = WriteRequestNumberOf(c.broken_while_sending);
    ASSERT_GT(at, 0u);
    ResetTerminal();
    options.insert(options.end(), {"--close-at", std::to_string(at)});
  }
  Connect(options);
  ASSERT_EQ(Upload(kFirstPackage, "first").ret, Value::Int(1));
  ASSERT_EQ(Upload(kRegularPackage, "regular").ret, Value::Int(1));
  Result r = Upload(kLastPackage, "last");
  ASSERT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.error, c.message);

  // The cause goes away as a warehouse removes it: the settings file put on
  // the terminal, or the connection made again.
  if (c.no_settings_file) {
    SqliteFile setup(TerminalSettings().string());
    setup.Exec("CREATE TABLE Merxa_5_123 (parameter TEXT, value TEXT)");
    setup.Exec("INSERT INTO Merxa_5_123 VALUES ('Merxa.FieldName_001', '')");
  } else {
    ASSERT_EQ(Call(Method(test::kSimClose), {Value::Int(terminal_.device)}).ret, Value::Int(1));
    const Result opened = Call(Method(test::kSimOpen), {Value()});
    ASSERT_EQ(opened.ret, Value::Int(1)) << opened.error;
    terminal_.device = opened.params[0].ToInt32();
  }

  r = Upload(kLastPackage, "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(TerminalArticles(), kThreePackages);
  EXPECT_EQ(TerminalBarcodes(), kThreePackagesBarcodes);
  EXPECT_EQ(SqliteFile(TerminalSettings().string())
                .Rows("select value from Merxa_5_123 where parameter='Merxa.FieldName_001'"),
            (Rows{{"Наименование"}}));
  EXPECT_FALSE(CatalogueUploadState().UploadInProgress);
  EXPECT_FALSE(fs::exists(scratch_.File("Merxa.earlier.db")));
}

INSTANTIATE_TEST_SUITE_P(
    EachFinishingStep, RetriedLast,
    ::testing::Values(LastFailure{"NoSettingsFile", true, nullptr, "4Запрашиваемый файл на устройстве отсутствует."},
                      LastFailure{"LinkBrokenSendingSettings", false, "\\MerxaSetup.db",
                                  "4ТСД отключен."},
                      LastFailure{"LinkBrokenSendingCatalogue", false, "\\Merxa5\\Merxa.db",
                                  "4ТСД отключен."}),
    [](const ::testing::TestParamInfo<LastFailure>& info) { return std::string(info.param.name); });

TEST_F(UploadTerminal, RebuiltLastPackageTakesTheFailedOnesPlace) {
  Connect({"--no-setup"});
  ASSERT_EQ(Upload(kFirstPackage, "first").ret, Value::Int(1));
  ASSERT_EQ(Upload(kRegularPackage, "regular").ret, Value::Int(1));
  ASSERT_EQ(Upload(PackageWithBox("X1", "Stale", "8"), "last").ret, Value::Int(0));
  // A "regular" cannot join a catalogue whose last package is in.
  Result r = Upload(SimplePackage(1, 1), "regular");
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.error,
            "5Ошибка при выгрузке таблицы,последний пакет уже принят: повторите пакет last или начните выгрузку "
            "заново пакетом first.");

  {
    SqliteFile setup(TerminalSettings().string());
    setup.Exec("CREATE TABLE Merxa_5_123 (parameter TEXT, value TEXT)");
  }
  r = Upload(kLastPackage, "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(TerminalArticles(), kThreePackages);
  EXPECT_EQ(TerminalBarcodes(), kThreePackagesBarcodes);
}

TEST_F(UploadTerminal, RebuiltSinglePackageIsSentAlone) {
  Connect({"--no-setup"});
  ASSERT_EQ(Upload(SimplePackage(1, 3), "last").ret, Value::Int(0));
  {
    SqliteFile setup(TerminalSettings().string());
    setup.Exec("CREATE TABLE Merxa_5_123 (parameter TEXT, value TEXT)");
  }
  const Result r = Upload(SimplePackage(7, 2), "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(TerminalArticles(), KeysNamesUnits(7, 2));
}

// ---- Versions and clearing -----------------------------------------------------------

TEST_F(UploadTerminal, OtherVersionIsRefusedByUploadAndSkippedByClear) {
  Connect({"--version", "4.1.7"});
  Result r = Upload(SimplePackage(1, 2), "last");
  EXPECT_EQ(r.ret, Value::Int(0));
  EXPECT_EQ(r.error, "5Ваша версия Merxa 4.1.7 Не поддерживается.");
  SetMessageLanguage(Language::English);
  r = Upload(SimplePackage(1, 2), "first");
  EXPECT_EQ(r.error, "5Your version Merxa 4.1.7 is not supported.");
  EXPECT_FALSE(fs::exists(scratch_.File("Merxa.db")));

  r = Clear();
  EXPECT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(RequestsSoFar(), (std::vector<std::string>{"GetFuture ProgrammVersion"}));
  EXPECT_FALSE(fs::exists(TerminalCatalogue()));
}

TEST_F(UploadTerminal, ClearSendsAnEmptyCatalogueAndEndsTheUpload) {
  Connect();
  ASSERT_EQ(Upload(SimplePackage(1, 3), "last").ret, Value::Int(1));
  ASSERT_EQ(TerminalArticles().size(), 3u);
  const Rows settings = TerminalSettingsRows();
  ASSERT_EQ(Upload(SimplePackage(10, 1), "first").ret, Value::Int(1));
  RequestsSoFar();

  Result r = Clear();
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  {
    SqliteFile catalogue(TerminalCatalogue().string());
    for (const char* table : {"Articule", "Articule_Fields", "Barcodes"}) {
      EXPECT_EQ(catalogue.Value(std::string("select count(*) from ") + table), Cell("0")) << table;
    }
    EXPECT_EQ(catalogue.Value("select count(*) from sqlite_master where type='index'"), Cell("3"));
  }
  EXPECT_FALSE(Touches(RequestsSoFar(), "MerxaSetup.db"));
  EXPECT_EQ(TerminalSettingsRows(), settings);
  EXPECT_FALSE(CatalogueUploadState().UploadInProgress);

  // The rest of the cleared upload is refused: sent, it would make a
  // catalogue without its first package.
  const char kNotStarted[] = "5Ошибка при выгрузке таблицы,выгрузка не начата: начните её заново пакетом first.";
  for (const char* status : {"regular", "last"}) {
    r = Upload(SimplePackage(20, 1), status);
    EXPECT_EQ(r.ret, Value::Int(0)) << status;
    EXPECT_EQ(r.error, kNotStarted) << status;
  }
  EXPECT_EQ(TerminalArticles(), Rows{});

  // A new upload goes through whole.
  ASSERT_EQ(Upload(SimplePackage(30, 1), "first").ret, Value::Int(1));
  r = Upload(SimplePackage(31, 1), "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(TerminalArticles(), KeysNamesUnits(30, 2));
}

TEST_F(UploadTerminal, ClearAfterAFailedSinglePackageLeavesTheNextOneFree) {
  Connect({"--no-setup"});
  ASSERT_EQ(Upload(SimplePackage(1, 2), "last").ret, Value::Int(0));
  ASSERT_EQ(Clear().ret, Value::Int(1));
  {
    SqliteFile setup(TerminalSettings().string());
    setup.Exec("CREATE TABLE Merxa_5_123 (parameter TEXT, value TEXT)");
  }
  // A single "last" is an upload of its own: nothing before it was cleared.
  const Result r = Upload(SimplePackage(1, 2), "last");
  ASSERT_EQ(r.ret, Value::Int(1)) << r.error;
  EXPECT_EQ(TerminalArticles(), KeysNamesUnits(1, 2));
}

}  // namespace
}  // namespace vtsd
