#include "selection/selection_database.hpp"

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "store/local_database.hpp"
#include "platform/files.hpp"

namespace vtsd {

namespace {

const Msg kDeleteFailed{"№Ошибка при удаление временного Файла Podbor.db", "№Error while deleting temporary files Podbor.db"};
const Msg kCreateFailed{"№Ошибка при создание файла Podbor.db", "№Error while creating file Podbor.db"};
const Msg kTablesFailed{"№Ошибка при создание таблиц в Podbor.db", "№Error when creating tables in Podbor.db"};

// Columns of the lines table order_K and of order_d_K.
const char* const kLineColumns =
    "(N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Value TEXT,Date TEXT,Attr_2 TEXT,Attr_3 TEXT,"
    "Attr_4 TEXT,Attr_5 TEXT,Attr_6 TEXT,Attr_7 TEXT,Attr_8 TEXT,Attr_9 TEXT,Attr_10 TEXT)";
const char* const kPodborColumns = "(N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Value TEXT)";
const char* const kSerialColumns = "(N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Serial TEXT,Value TEXT)";

// Table name prefixes of one task, in the order the statements use them.
const char* const kTaskTablePrefixes[] = {"order_", "order_d_", "order_podbor_", "order_sn_"};

std::string ArticuleIndexStatement(const std::string& table) {
  return "CREATE INDEX Articule_index_" + table + " ON " + table + " (Articule)";
}

}  // namespace

std::vector<std::string> RegistryCreationStatements() {
  return {
      "CREATE TABLE Registry (N INTEGER PRIMARY KEY AUTOINCREMENT,Name TEXT,RealName TEXT,Date TEXT,"
      "Attr_2 TEXT,Attr_3 TEXT,Attr_4 TEXT,Attr_5 TEXT,Attr_6 TEXT,Attr_7 TEXT,Attr_8 TEXT,Attr_9 TEXT,"
      "Attr_10 TEXT)",
      "CREATE INDEX Name_index_Registry ON Registry (Name)",
  };
}

std::vector<std::string> TaskTableCreationStatements(const std::string& task_key) {
  const char* const columns[] = {kLineColumns, kLineColumns, kPodborColumns, kSerialColumns};
  std::vector<std::string> statements;
  for (size_t i = 0; i < 4; ++i) {
    const std::string table = kTaskTablePrefixes[i] + task_key;
    // No blank between the table name and its column list: SQLite keeps
    // this text as the table's schema entry, which the terminal reads.
    statements.push_back("CREATE TABLE " + table + columns[i]);
    statements.push_back(ArticuleIndexStatement(table));
  }
  return statements;
}

bool IsTaskTableSuffix(const std::string& suffix) {
  if (suffix.empty() || suffix.size() > 64) return false;
  for (char c : suffix) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!ok) return false;
  }
  return true;
}

std::vector<std::string> TaskTableDropStatements(const std::string& task_key) {
  std::vector<std::string> statements;
  for (const char* prefix : kTaskTablePrefixes) {
    statements.push_back("drop  table if exists " + QuoteSqlIdentifier(prefix + task_key));
  }
  return statements;
}

std::string RegistryDeleteStatement(const std::string& task_key) {
  return "DELETE FROM Registry WHERE RealName = " + QuoteSqlText(task_key);
}

bool CreateSelectionDatabase() {
  if (!platform::RemoveFile(TempPath(kSelectionFileName))) Raise(kDeleteFailed);

  LocalDatabase db = OpenLocalDatabase(kSelectionFileName, kCreateFailed);
  db.Begin(kTablesFailed);
  for (const std::string& statement : RegistryCreationStatements()) db.Execute(statement, kTablesFailed);
  db.Commit(kTablesFailed);
  return true;
}

}  // namespace vtsd
