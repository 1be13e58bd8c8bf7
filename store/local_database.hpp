// Local SQLite files in TempDir: the one way every database step opens a
// file, works in one transaction and closes it, and the quoting of text
// values inside SQL statements.
//
// Statements are SQL text; a text value goes into a statement as a literal
// in single quotes with each inner single quote doubled. The one statement
// that runs once per imported record is prepared once and given its values
// bound as text (LocalStatement), which stores exactly what the literal
// would.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/messages.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace vtsd {

// Appends `text` as an SQL literal: 'O''Neil' for O'Neil, '' for the empty text.
void AppendSqlText(std::string& out, std::string_view text);
// The same for a NUL-terminated text, scanned once (the import's hot path).
void AppendSqlText(std::string& out, const char* text);
// `text` as an SQL literal.
std::string QuoteSqlText(std::string_view text);
// `name` as a quoted SQL identifier: "a""b" for a"b.
std::string QuoteSqlIdentifier(std::string_view name);

class LocalQuery;
class LocalStatement;
class TerminalFileGuard;

// What a failing statement raises: the step's coded message, or SQLite's own
// text for the steps whose failures reach the user as SQLite words them (the
// task upload's statements).
class SqlFailure {
 public:
  // NOLINTNEXTLINE: a step's message is its failure.
  SqlFailure(const Msg& message) : message_(message) {}
  static SqlFailure SqliteText() { return SqlFailure(); }

  // Raises the failure of a statement on `db`; `sql` names a text that held
  // more than one statement, when that was the fault.
  [[noreturn]] void Raise(sqlite3* db, std::string_view sql = {}) const;

 private:
  SqlFailure() : sqlite_text_(true) {}
  Msg message_{"", ""};
  bool sqlite_text_ = false;
};

// An open local database connection. The owner closes it; a transaction that
// has not been committed by then is rolled back, so nothing of it reaches the
// file. Every failing call raises the failure the step passes in.
class LocalDatabase {
 public:
  LocalDatabase(LocalDatabase&& other) noexcept;
  LocalDatabase& operator=(LocalDatabase&&) = delete;
  LocalDatabase(const LocalDatabase&) = delete;
  LocalDatabase& operator=(const LocalDatabase&) = delete;
  ~LocalDatabase();

  // Begins the step's one transaction.
  void Begin(const SqlFailure& failure);
  // Executes one statement; rows it yields are passed over. A text that holds
  // more than one statement fails without running any of it.
  void Execute(std::string_view sql, const SqlFailure& failure);
  // Prepares a query (one statement) whose rows are read with
  // LocalQuery::Next.
  LocalQuery Query(std::string_view sql, const SqlFailure& failure);
  // Prepares one statement with parameters, to be run many times.
  LocalStatement Prepare(std::string_view sql, const SqlFailure& failure);
  // Commits the transaction.
  void Commit(const SqlFailure& failure);
  // Closes the connection now (rolling back an uncommitted transaction).
  void Close();

  bool InTransaction() const;
  sqlite3* handle() const { return db_; }

  // For a file from the terminal: the message a damaged file or a statement
  // ended for its work raises from here on (a step names the document it
  // reads). Copies the texts.
  void SetDamagedFailure(const Msg& damaged);
  // Raises that message.
  [[noreturn]] void RaiseDamaged() const;
  // The file's size in bytes when it was opened (0 for a file the driver
  // builds itself): what an honest reading of it can yield is bounded by it.
  int64_t FileBytes() const;

 private:
  friend LocalDatabase OpenLocalDatabase(const std::string& file_name, const Msg& open_failure);
  friend LocalDatabase OpenTerminalDatabase(const std::string& file_name, const Msg& open_failure);
  explicit LocalDatabase(sqlite3* db);
  void PrepareOne(std::string_view sql, const SqlFailure& failure, sqlite3_stmt*& stmt);
  [[noreturn]] void Fail(const SqlFailure& failure, std::string_view sql = {}) const;
  sqlite3* db_ = nullptr;
  // Set for a file from the terminal; it outlives moves of the connection.
  std::unique_ptr<TerminalFileGuard> guard_;
};

// Opens TempDir + `file_name` for reading and writing, creating it when it
// does not exist, through SQLite's UTF-16 open so that a new file has the
// text encoding UTF-16le, and executes "PRAGMA auto_vacuum=1" at once,
// outside any transaction (it gives a new file full auto-vacuum and changes
// nothing in a file that already has tables). No transaction is open yet.
// Raises `open_failure` when the file cannot be opened or created.
LocalDatabase OpenLocalDatabase(const std::string& file_name, const Msg& open_failure);

// Opens TempDir + `file_name`, a file that came from the terminal, as the
// input it is: whatever device answered on the port may have written it.
// The connection is opened as OpenLocalDatabase opens it, then hardened:
// SQLite's defensive mode, the file's own triggers and views never run (the
// driver creates neither in these files), functions in its schema only if
// they are harmless, every cell's size checked, no memory mapping, lengths,
// columns and statement sizes limited to what the terminal's formats need,
// and every statement ended once its work exceeds what a file of this size
// can honestly need. A statement ended that way, and a file SQLite finds
// damaged, raise "the file ... on the TSD is damaged" (or the message set
// with SetDamagedFailure).
LocalDatabase OpenTerminalDatabase(const std::string& file_name, const Msg& open_failure);

// The message that a damaged file from the terminal raises, composed of
// kDamagedFilePrefix, the file name and kDamagedFileSuffix.
namespace terminal_file_text {
extern const Msg kDamagedFilePrefix;  // file name follows
extern const Msg kDamagedFileSuffix;
}  // namespace terminal_file_text

// Whether TempDir + `file_name` is a whole database: it is as long as its
// header says, opens, and SQLite's quick check of every page finds nothing
// wrong. Nothing in the file changes.
// The file is read as one from the terminal (OpenTerminalDatabase's
// limits): a check that runs past its bound finds the file not whole.
bool LocalDatabaseIsIntact(const std::string& file_name);

// Makes TempDir + `to` a page-for-page copy of the database TempDir +
// `from` (created or replaced), so that a later step can go back to what
// `from` held. Raises `failure` when either file cannot be opened or the
// copy does not complete; `to` is then no copy to rely on.
void CopyLocalDatabase(const std::string& from, const std::string& to, const Msg& failure);

// A prepared statement run once per set of values: the values are bound as
// text (SQLite copies nothing; each must stay valid until Run returns), Run
// executes it and makes it ready for the next set.
class LocalStatement {
 public:
  LocalStatement(LocalStatement&& other) noexcept;
  LocalStatement& operator=(LocalStatement&& other) noexcept;
  LocalStatement(const LocalStatement&) = delete;
  LocalStatement& operator=(const LocalStatement&) = delete;
  ~LocalStatement();

  // Binds the NUL-terminated UTF-8 text to parameter `index` (from 1).
  void BindText(int index, const char* text);
  // Executes the statement with the bound values, then resets it and clears
  // the bindings. A failing step raises the statement's failure.
  void Run();

 private:
  friend class LocalDatabase;
  LocalStatement(sqlite3_stmt* stmt, const SqlFailure& failure, TerminalFileGuard* guard)
      : stmt_(stmt), failure_(failure), guard_(guard) {}
  sqlite3_stmt* stmt_ = nullptr;
  SqlFailure failure_;
  TerminalFileGuard* guard_ = nullptr;
};

// The rows of one query, read forward once. Columns are found by name
// (compared without regard to ASCII letter case, as SQLite names them).
class LocalQuery {
 public:
  LocalQuery(LocalQuery&& other) noexcept;
  LocalQuery& operator=(LocalQuery&&) = delete;
  LocalQuery(const LocalQuery&) = delete;
  LocalQuery& operator=(const LocalQuery&) = delete;
  ~LocalQuery();

  // Steps to the next row; false after the last one. A failing step raises
  // the query's failure message.
  bool Next();
  // The current row's value in column `index` (from 0) as UTF-8 text; NULL
  // gives the empty text.
  std::string Text(int index) const;
  // Index of the named column of the result, or -1.
  int ColumnIndex(std::string_view name) const;
  // Whether the current row's value in the named column is NULL. An unknown
  // column raises the failure message.
  bool IsNull(std::string_view column) const;
  // The current row's value in the named column as UTF-8 text; NULL gives
  // the empty text. An unknown column raises the failure message.
  std::string Text(std::string_view column) const;

 private:
  friend class LocalDatabase;
  LocalQuery(sqlite3_stmt* stmt, const SqlFailure& failure, TerminalFileGuard* guard)
      : stmt_(stmt), failure_(failure), guard_(guard) {}
  int RequireColumn(std::string_view name) const;
  [[noreturn]] void Fail() const;
  sqlite3_stmt* stmt_ = nullptr;
  SqlFailure failure_;
  TerminalFileGuard* guard_ = nullptr;
};

}  // namespace vtsd
