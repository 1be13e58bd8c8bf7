#include "selection/task_upload.hpp"

#include <sqlite3.h>

#include <utility>
#include <vector>

#include "catalogue/local_database.hpp"
#include "catalogue/xml_table.hpp"
#include "link/terminal_identity.hpp"
#include "link/remote_files.hpp"
#include "platform/dialogs.hpp"
#include "selection/selection_database.hpp"

namespace vtsd {

namespace {
// Version 5 keeps its tasks in its order directory.
const TerminalLocation kSelectionOnTerminal{"", "Merxa5\\Order\\", kSelectionFileName};
}  // namespace

namespace task_upload_text {
const Msg kXmlInvalid{"7XML невалидный, проверьте параметр Xml Таблица.",
                      "7XML is invalid, check the parameter Xml Table."};
const Msg kOpenFailed{"№Ошибка открытия БД при записи данных",
                      "№Error opening the database when writing data"};
const Msg kNoTable{"№В таблице XML не указано значение PodborName",
                   "№The table is not set to XML PodborName"};
const Msg kCanceled{"7Выгрузка отменена пользователем.", "7Unloading canceled by the user."};
const Msg kInsertFailed{"7Ошибка при заполнение базы данных,не выполняется инсерт.",
                        "7An error occurred while populating the database, does not hold an insert."};
const Msg kQuestionCaption{"Vemlar TSD", "Vemlar TSD"};
const Msg kQuestionPrefix{"В ТСД, задача подбора с именем ",
                          "In TSD, the task of selecting the name "};
const Msg kQuestionSuffix{
    " уже существует. Удалить задачу и загрузить новую? Если нажать нет, то загрузка будет отменена.",
    " already exists. Delete the task and upload a new one? If you click No, the download will be "
    "canceled."};
}  // namespace task_upload_text

namespace {

namespace text = task_upload_text;

constexpr const char kNameAttribute[] = "PodborName";

// One statement of the task's transaction whose failure ends the upload with
// SQLite's own error text. Exactly one statement runs: a key read from the
// terminal's file that carries more SQL after it is refused, not executed.
class Statement {
 public:
  Statement(LocalDatabase& db, const std::string& sql) : db_(db.handle()) {
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt_, &tail) !=
        SQLITE_OK) {
      Fail();
    }
    if (stmt_ == nullptr) Fail();
    for (; tail != nullptr && *tail != '\0'; ++tail) {
      if (*tail != ' ' && *tail != '\t' && *tail != '\r' && *tail != '\n' && *tail != ';') {
        // No destructor runs for an object whose constructor throws: the
        // statement is finalized here, or it would keep the connection (and
        // the file) open after the connection is closed.
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        RaiseText("SQL text holds more than one statement: " + sql);
      }
    }
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Steps to the next row; false when done.
  bool Next() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Fail();
    return false;
  }
  void Run() {
    while (Next()) {
    }
  }
  std::string Column(int index) const {
    const auto* value = sqlite3_column_text(stmt_, index);
    if (value == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(value),
                       static_cast<size_t>(sqlite3_column_bytes(stmt_, index)));
  }

 private:
  [[noreturn]] void Fail() const {
    const char* message = db_ != nullptr ? sqlite3_errmsg(db_) : nullptr;
    RaiseText(message != nullptr ? message : "SQLite failure");
  }
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

void Execute(LocalDatabase& db, const std::string& sql) { Statement(db, sql).Run(); }

// The replacement question; true when the user agrees to replace the task.
// With nobody there to answer, nothing is replaced.
bool ConfirmReplacement(const std::string& taskName) {
  platform::MessageBoxRequest box;
  box.kind = platform::BoxKind::Question;
  box.caption = text::kQuestionCaption.Text();
  const Language language = GetMessageLanguage();
  box.text = std::string(text::kQuestionPrefix.Text(language)) + taskName +
             text::kQuestionSuffix.Text(language);
  box.safe_answer = platform::BoxAnswer::No;
  return platform::Dialogs().ShowMessageBox(box, nullptr) == platform::BoxAnswer::Yes;
}

}  // namespace

void FetchSelectionDatabase(TerminalSession& session) {
  // An earlier send cut short may have left the terminal without its whole
  // task file: the copy that was being sent holds every task it had.
  const FetchResult fetched =
      FetchDatabaseFileOrUnsentCopy(session, kSelectionOnTerminal, kSelectionFileName, LocalDatabaseIsIntact);
  if (fetched == FetchResult::Missing || fetched == FetchResult::Empty) CreateSelectionDatabase();
}

bool UnloadTaskForSelection(TerminalSession& session, const std::string& xmlTable, LocalClock clock) {
  const std::string version = QueryAppVersion(session);
  if (!version.empty() && version[0] == '5') UploadSelectionTask(session, xmlTable, clock);
  return true;
}

void UploadSelectionTask(TerminalSession& session, const std::string& xmlTable, LocalClock clock) {
  FetchSelectionDatabase(session);
  AddSelectionTask(xmlTable, kSelectionFileName, clock);
  UploadKeepingUnsentCopy(session, kSelectionFileName, kSelectionOnTerminal);
}

std::string TaskKey(const std::string& timeText) {
  std::string key = "0000";
  for (char c : timeText) {
    if (c >= '0' && c <= '9') key += c;
  }
  return key;
}

std::string NextTaskKey(const std::string& key) {
  std::string digits = key.size() > 4 ? key.substr(4) : std::string();
  // One more, in decimal, keeping the width ("0999" becomes "1000").
  int i = static_cast<int>(digits.size()) - 1;
  for (; i >= 0 && digits[static_cast<size_t>(i)] == '9'; --i) digits[static_cast<size_t>(i)] = '0';
  if (i < 0)
    digits.insert(digits.begin(), '1');
  else
    ++digits[static_cast<size_t>(i)];
  return "0000" + digits;
}

std::string TaskDateText(const platform::LocalDateTimeText& now) { return now.date + " " + now.time; }

namespace {

// Whether a table of the task key or a Registry row already names it.
bool KeyInUse(LocalDatabase& db, const std::string& key) {
  Statement tables(db, "SELECT count(*) FROM sqlite_master WHERE name IN (" + QuoteSqlText("order_" + key) + "," +
                           QuoteSqlText("order_d_" + key) + "," + QuoteSqlText("order_podbor_" + key) + "," +
                           QuoteSqlText("order_sn_" + key) + ")");
  if (tables.Next() && tables.Column(0) != "0") return true;
  Statement registry(db, "SELECT count(*) FROM Registry WHERE RealName=" + QuoteSqlText(key));
  return registry.Next() && registry.Column(0) != "0";
}

}  // namespace

bool AddSelectionTask(const std::string& xmlTable, const std::string& fileName, LocalClock clock) {
  XmlTable table;
  if (!table.Load(xmlTable)) Raise(text::kXmlInvalid);

  LocalDatabase db = OpenLocalDatabase(fileName, text::kOpenFailed);
  if (!table.HasTableRoot()) Raise(text::kNoTable);
  Execute(db, "BEGIN");

  // The task's name; a Table whose first attribute is another one gives a
  // task without a name, stored without asking.
  std::string taskName;
  std::string attributeName;
  std::string attributeValue;
  bool replacing = false;
  std::string keptN;
  if (table.TableFirstAttribute(attributeName, attributeValue) && attributeName == kNameAttribute) {
    taskName = attributeValue;
    // Every task of that name: a file may hold more than one.
    std::vector<std::string> oldKeys;
    {
      Statement lookup(db, "select N,RealName From Registry Where Name=" + QuoteSqlText(taskName) +
                               " ORDER BY N");
      while (lookup.Next()) {
        if (!replacing) keptN = lookup.Column(0);
        replacing = true;
        oldKeys.push_back(lookup.Column(1));
      }
    }
    if (replacing) {
      // Closing the connection without a commit leaves the file as fetched.
      if (!ConfirmReplacement(taskName)) Raise(text::kCanceled);
      for (const std::string& oldKey : oldKeys) {
        for (const std::string& sql : TaskTableDropStatements(oldKey)) Execute(db, sql);
        Execute(db, RegistryDeleteStatement(oldKey));
      }
    }
  }

  // The key follows the clock, but the same time of another day (or of the
  // other half of a 12-hour day) may name a task the file holds: the key
  // then moves on to the next free value.
  const platform::LocalDateTimeText now = clock();
  std::string key = TaskKey(now.time);
  while (KeyInUse(db, key)) key = NextTaskKey(key);
  for (const std::string& sql : TaskTableCreationStatements(key)) Execute(db, sql);

  if (!replacing) {
    // One more than the largest number: the terminal may have deleted tasks
    // before the last one.
    Statement largest(db, "SELECT ifnull(max(CAST(N AS INTEGER)), 0) + 1 FROM Registry");
    if (largest.Next()) keptN = largest.Column(0);
  }
  const std::string count = std::to_string(table.RecordCount());
  const std::string values[] = {keptN, taskName, key, TaskDateText(now), count, count, "0", "0.00"};
  std::string insert = "INSERT INTO Registry(N,Name,RealName,Date,Attr_2,Attr_3,Attr_4,Attr_5) VALUES (";
  for (size_t i = 0; i < 8; ++i) {
    if (i > 0) insert += ',';
    AppendSqlText(insert, values[i]);
  }
  insert += ')';
  Execute(db, insert);

  // One insert per line, in document order. A Record without an article
  // code and a quantity cannot be a line: the task is refused whole.
  const std::string linePrefix = "insert into order_podbor_" + key + " (Articule,Value) VALUES (";
  std::string line;
  table.ForEachRecord([&](const XmlRecord& record) {
    const char* articule = record.AttributeValue(1);
    const char* quantity = record.AttributeValue(2);
    if (articule == nullptr || quantity == nullptr) Raise(text::kInsertFailed);
    line = linePrefix;
    AppendSqlText(line, articule);
    line += ',';
    AppendSqlText(line, quantity);
    line += ')';
    db.Execute(line, text::kInsertFailed);
  });

  Execute(db, "COMMIT");
  db.Close();
  return true;
}

}  // namespace vtsd
