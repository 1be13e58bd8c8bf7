#include "tests/selection/hostile_files.hpp"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "selection/document_download.hpp"
#include "selection/selection_database.hpp"
#include "selection/selection_window.hpp"
#include "selection/task_upload.hpp"
#include "store/local_database.hpp"
#include "tests/selection/fixtures.hpp"

namespace vtsd::test {

namespace {

// Endless rows, as a query that a name smuggled into a statement would run.
const char kEndless[] = "WITH RECURSIVE c(a,b) AS (SELECT 'X','1' UNION ALL SELECT a,b FROM c) SELECT a,b FROM c";

const char kOrdersBase[] =
    "CREATE TABLE Registry (N INTEGER PRIMARY KEY AUTOINCREMENT,Name TEXT,RealName TEXT,Date TEXT);"
    "INSERT INTO Registry(Name,RealName) VALUES ('Honest','1');"
    "CREATE TABLE order_1 (N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Value TEXT,Date TEXT);"
    "INSERT INTO order_1(Articule,Value) VALUES ('4601234567890','2'),('4601234567891','1.5');";

const char kDamagedOrders[] = "№The file Orders.db on the TSD is damaged: the driver cannot read it.";
const char kDamagedPodbor[] = "№The file Podbor.db on the TSD is damaged: the driver cannot read it.";

std::vector<HostileFileCase> MakeCases() {
  const std::string endless = kEndless;
  return {
      {"honest file", "Orders.db", "", 0, "documents:Honest", "", nullptr},
      {"RealName that carries a query", "Orders.db",
       "INSERT INTO Registry(Name,RealName) VALUES ('Evil'," +
           QuoteSqlText("0000111111 UNION ALL SELECT * FROM (" + endless + ")") +
           ");"
           "CREATE TABLE order_0000111111 (Articule TEXT,Value TEXT);",
       0, "documents:Evil", "№The document 'Evil' on the TSD is damaged: the driver cannot read it.", nullptr},
      {"RealName with a quote", "Orders.db",
       "INSERT INTO Registry(Name,RealName) VALUES ('Quote','1\"\"x');", 0, "documents:Quote",
       "№The document 'Quote' on the TSD is damaged: the driver cannot read it.", nullptr},
      {"Registry is an endless view", "Orders.db",
       "DROP TABLE Registry;"
       "CREATE VIEW Registry AS WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM c) "
       "SELECT 'x'||n AS Name, '1' AS RealName FROM c;",
       0, "documents:Honest", kDamagedOrders, nullptr},
      {"order table is an endless view", "Orders.db",
       "INSERT INTO Registry(Name,RealName) VALUES ('Viewed','2');"
       "CREATE VIEW order_2 AS SELECT a AS Articule, b AS Value FROM (" + endless + ");",
       0, "documents:Viewed", kDamagedOrders, nullptr},
      {"generated column of large values", "Orders.db",
       "INSERT INTO Registry(Name,RealName) VALUES ('Grown','3');"
       "CREATE TABLE order_3 (N INTEGER PRIMARY KEY,Articule TEXT,"
       "Value TEXT GENERATED ALWAYS AS (printf('%.*c', 900000, 'x')));"
       "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM c WHERE n<400) "
       "INSERT INTO order_3(Articule) SELECT n FROM c;",
       0, "documents:Grown", "№The document 'Grown' on the TSD is damaged: the driver cannot read it.", nullptr},
      {"column pointing at a huge blob", "Orders.db",
       "INSERT INTO Registry(Name,RealName) VALUES ('Blob','4');"
       "CREATE TABLE order_4 (N INTEGER PRIMARY KEY,Articule TEXT,"
       "Value BLOB GENERATED ALWAYS AS (zeroblob(900000000)) VIRTUAL);"
       "INSERT INTO order_4(Articule) VALUES ('1');",
       0, "documents:Blob", "№The document 'Blob' on the TSD is damaged: the driver cannot read it.", nullptr},
      {"scribbled table page", "Orders.db",
       "INSERT INTO Registry(Name,RealName) VALUES ('Long','5');"
       "CREATE TABLE order_5 (N INTEGER PRIMARY KEY,Articule TEXT,Value TEXT);"
       "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM c WHERE n<3000) "
       "INSERT INTO order_5(Articule,Value) SELECT printf('46%011d', n), n FROM c;",
       6, "documents:Long", "№The document 'Long' on the TSD is damaged: the driver cannot read it.", nullptr},
      {"trigger on the task registry", "Podbor.db",
       "CREATE TABLE junk (x BLOB);"
       "CREATE TRIGGER grow AFTER INSERT ON Registry BEGIN "
       "INSERT INTO junk WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n+1 FROM c WHERE n<3000000) "
       "SELECT randomblob(200) FROM c; END;",
       0, "task", "", "SELECT count(*) FROM junk"},
      {"index over an expression too large", "Podbor.db",
       "CREATE INDEX huge ON Registry(length(Name), Name) WHERE zeroblob(900000000) IS NOT NULL;", 0, "task", kDamagedPodbor, nullptr},
      {"registry check that loads code", "Podbor.db",
       "DROP TABLE Registry;"
       "CREATE TABLE Registry (N INTEGER PRIMARY KEY AUTOINCREMENT,Name TEXT,RealName TEXT,Date TEXT,"
       "Attr_2 TEXT,Attr_3 TEXT,Attr_4 TEXT,Attr_5 TEXT,CHECK (load_extension('/tmp/no-such-library') IS NULL));",
       0, "task", kDamagedPodbor, nullptr},
      {"task key that carries a statement", "Podbor.db",
       "INSERT INTO Registry(N,Name,RealName) VALUES (1,'Picking','0001; DELETE FROM Registry');", 0, "task",
       kDamagedPodbor, nullptr},
  };
}

void Scribble(const std::string& path, int page) {
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) throw std::runtime_error("cannot open " + path);
  // Page sizes of the driver's and the terminal's files: read from the header.
  unsigned char header[18];
  if (std::fread(header, 1, sizeof header, file) != sizeof header) throw std::runtime_error("short file");
  const long page_size = (header[16] << 8 | header[17]) == 1 ? 65536 : (header[16] << 8 | header[17]);
  // The cell pointers and the cells after the page header.
  std::fseek(file, page_size * (page - 1) + 8, SEEK_SET);
  const std::string garbage(static_cast<size_t>(page_size / 2), '\xA5');
  std::fwrite(garbage.data(), 1, garbage.size(), file);
  std::fclose(file);
}

}  // namespace

const std::vector<HostileFileCase>& HostileFileCases() {
  static const std::vector<HostileFileCase> cases = MakeCases();
  return cases;
}

void WriteHostileFile(const HostileFileCase& c) {
  const std::string path = TempPath(c.file);
  std::filesystem::remove(path);
  {
    Db db(path);
    if (std::string(c.file) == kSelectionFileName) {
      for (const std::string& sql : RegistryCreationStatements()) db.Exec(sql);
      db.Exec("INSERT INTO Registry(N,Name,RealName) VALUES (7,'Honest','0000000007')");
      for (const std::string& sql : TaskTableCreationStatements("0000000007")) db.Exec(sql);
    } else {
      db.Exec(kOrdersBase);
    }
    if (!c.setup.empty()) db.Exec(c.setup);
  }
  if (c.scribbled_page > 0) Scribble(path, c.scribbled_page);
}

std::string RunHostileFileCase(const HostileFileCase& c) {
  const std::string operation = c.operation;
  try {
    if (operation == "task") {
      AddSelectionTask("<Table PodborName=\"Picking\"><Record Articule=\"1\" Value=\"2\"/></Table>", c.file,
                       [] { return platform::LocalDateTimeText{"11.12.2026", "10:00:00"}; });
    } else {
      ListDocumentNames(c.file);
      BuildDocumentXml(c.file, operation.substr(operation.find(':') + 1) + kChoiceSeparator);
    }
  } catch (const DriverError& e) {
    return e.text();
  }
  return std::string();
}

}  // namespace vtsd::test
