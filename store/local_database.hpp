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

 private:
  friend LocalDatabase OpenLocalDatabase(const std::string& file_name, const Msg& open_failure);
  explicit LocalDatabase(sqlite3* db) : db_(db) {}
  void PrepareOne(std::string_view sql, const SqlFailure& failure, sqlite3_stmt*& stmt);
  sqlite3* db_ = nullptr;
};

// Opens TempDir + `file_name` for reading and writing, creating it when it
// does not exist, through SQLite's UTF-16 open so that a new file has the
// text encoding UTF-16le, and executes "PRAGMA auto_vacuum=1" at once,
// outside any transaction (it gives a new file full auto-vacuum and changes
// nothing in a file that already has tables). No transaction is open yet.
// Raises `open_failure` when the file cannot be opened or created.
LocalDatabase OpenLocalDatabase(const std::string& file_name, const Msg& open_failure);

// Whether TempDir + `file_name` is a whole database: it is as long as its
// header says, opens, and SQLite's quick check of every page finds nothing
// wrong. Nothing in the file changes.
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
  LocalStatement(sqlite3_stmt* stmt, const SqlFailure& failure) : stmt_(stmt), failure_(failure) {}
  sqlite3_stmt* stmt_ = nullptr;
  SqlFailure failure_;
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
  LocalQuery(sqlite3_stmt* stmt, const SqlFailure& failure) : stmt_(stmt), failure_(failure) {}
  int RequireColumn(std::string_view name) const;
  [[noreturn]] void Fail() const;
  sqlite3_stmt* stmt_ = nullptr;
  SqlFailure failure_;
};

}  // namespace vtsd
