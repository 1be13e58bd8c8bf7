#include "selection/task_upload.hpp"

#include <utility>
#include <vector>

#include "store/local_database.hpp"
#include "store/xml_table.hpp"
#include "link/application_version.hpp"
#include "link/kept_copies.hpp"
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

// The task's statements fail with SQLite's own text; only the line inserts
// carry a coded message of their own.
const SqlFailure kSqliteText = SqlFailure::SqliteText();

// The replacement question; true when the user agrees to replace the task.
// With nobody there to answer, nothing is replaced.
bool ConfirmReplacement(const std::string& task_name) {
  platform::MessageBoxRequest box;
  box.kind = platform::BoxKind::Question;
  box.caption = text::kQuestionCaption.Text();
  const Language language = GetMessageLanguage();
  box.text = std::string(text::kQuestionPrefix.Text(language)) + task_name +
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

bool UnloadTaskForSelection(TerminalSession& session, const std::string& xml_table, LocalClock clock) {
  const std::string version = QueryAppVersion(session);
  if (!version.empty() && version[0] == '5') UploadSelectionTask(session, xml_table, clock);
  return true;
}

void UploadSelectionTask(TerminalSession& session, const std::string& xml_table, LocalClock clock) {
  FetchSelectionDatabase(session);
  AddSelectionTask(xml_table, kSelectionFileName, clock);
  UploadKeepingUnsentCopy(session, kSelectionFileName, kSelectionOnTerminal);
}

std::string TaskKey(const std::string& time_text) {
  std::string key = "0000";
  for (char c : time_text) {
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
  LocalQuery tables = db.Query("SELECT count(*) FROM sqlite_master WHERE name IN (" + QuoteSqlText("order_" + key) +
                                   "," + QuoteSqlText("order_d_" + key) + "," + QuoteSqlText("order_podbor_" + key) +
                                   "," + QuoteSqlText("order_sn_" + key) + ")",
                               kSqliteText);
  if (tables.Next() && tables.Text(0) != "0") return true;
  LocalQuery registry = db.Query("SELECT count(*) FROM Registry WHERE RealName=" + QuoteSqlText(key), kSqliteText);
  return registry.Next() && registry.Text(0) != "0";
}

}  // namespace

bool AddSelectionTask(const std::string& xml_table, const std::string& file_name, LocalClock clock) {
  XmlTable table;
  if (!table.Load(xml_table)) Raise(text::kXmlInvalid);

  LocalDatabase db = OpenTerminalDatabase(file_name, text::kOpenFailed);
  if (!table.HasTableRoot()) Raise(text::kNoTable);
  db.Begin(kSqliteText);

  // The task's name; a Table whose first attribute is another one gives a
  // task without a name, stored without asking.
  std::string task_name;
  std::string attribute_name;
  std::string attribute_value;
  bool replacing = false;
  std::string kept_n;
  if (table.TableFirstAttribute(attribute_name, attribute_value) && attribute_name == kNameAttribute) {
    task_name = attribute_value;
    // Every task of that name: a file may hold more than one.
    std::vector<std::string> old_keys;
    {
      LocalQuery lookup =
          db.Query("select N,RealName From Registry Where Name=" + QuoteSqlText(task_name) + " ORDER BY N", kSqliteText);
      while (lookup.Next()) {
        if (!replacing) kept_n = lookup.Text(0);
        replacing = true;
        old_keys.push_back(lookup.Text(1));
        // A key no terminal writes names no tables the driver may drop.
        if (!IsTaskTableSuffix(old_keys.back())) db.RaiseDamaged();
      }
    }
    if (replacing) {
      // Closing the connection without a commit leaves the file as fetched.
      if (!ConfirmReplacement(task_name)) Raise(text::kCanceled);
      for (const std::string& old_key : old_keys) {
        for (const std::string& sql : TaskTableDropStatements(old_key)) db.Execute(sql, kSqliteText);
        db.Execute(RegistryDeleteStatement(old_key), kSqliteText);
      }
    }
  }

  // The key follows the clock, but the same time of another day (or of the
  // other half of a 12-hour day) may name a task the file holds: the key
  // then moves on to the next free value.
  const platform::LocalDateTimeText now = clock();
  std::string key = TaskKey(now.time);
  while (KeyInUse(db, key)) key = NextTaskKey(key);
  for (const std::string& sql : TaskTableCreationStatements(key)) db.Execute(sql, kSqliteText);

  if (!replacing) {
    // One more than the largest number: the terminal may have deleted tasks
    // before the last one.
    LocalQuery largest = db.Query("SELECT ifnull(max(CAST(N AS INTEGER)), 0) + 1 FROM Registry", kSqliteText);
    if (largest.Next()) kept_n = largest.Text(0);
  }
  const std::string count = std::to_string(table.RecordCount());
  const std::string values[] = {kept_n, task_name, key, TaskDateText(now), count, count, "0", "0.00"};
  std::string insert = "INSERT INTO Registry(N,Name,RealName,Date,Attr_2,Attr_3,Attr_4,Attr_5) VALUES (";
  for (size_t i = 0; i < 8; ++i) {
    if (i > 0) insert += ',';
    AppendSqlText(insert, values[i]);
  }
  insert += ')';
  db.Execute(insert, kSqliteText);

  // One insert per line, in document order. A Record without an article
  // code and a quantity cannot be a line: the task is refused whole.
  const std::string line_prefix = "insert into order_podbor_" + key + " (Articule,Value) VALUES (";
  std::string line;
  table.ForEachRecord([&](const XmlRecord& record) {
    const char* articule = record.AttributeValue(1);
    const char* quantity = record.AttributeValue(2);
    if (articule == nullptr || quantity == nullptr) Raise(text::kInsertFailed);
    line = line_prefix;
    AppendSqlText(line, articule);
    line += ',';
    AppendSqlText(line, quantity);
    line += ')';
    db.Execute(line, text::kInsertFailed);
  });

  db.Commit(kSqliteText);
  db.Close();
  return true;
}

}  // namespace vtsd
