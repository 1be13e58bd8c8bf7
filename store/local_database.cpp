#include "store/local_database.hpp"

#include <sqlite3.h>

#include <memory>

#include <cstdint>
#include <cstring>
#include <utility>

#include "base/temp_dir.hpp"
#include "platform/files.hpp"

namespace vtsd {

namespace {

// UTF-8 to UTF-16 in the machine's byte order, as the UTF-16 open expects,
// NUL-terminated. False for a text that is not well-formed UTF-8.
bool Utf8ToUtf16(const std::string& in, std::u16string& out) {
  out.clear();
  out.reserve(in.size() + 1);
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* end = p + in.size();
  while (p < end) {
    char32_t c = *p;
    int extra = 0;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      c &= 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      c &= 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      c &= 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (end - p <= extra) return false;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      c = (c << 6) | (p[i] & 0x3F);
    }
    static const char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c == 0) return false;
    p += extra + 1;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return true;
}

// A prepared statement that is finalized when it goes out of scope.
struct StatementOwner {
  sqlite3_stmt* stmt = nullptr;
  ~StatementOwner() { sqlite3_finalize(stmt); }
};

bool IsBlank(const char* p, const char* end) {
  for (; p < end; ++p) {
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != ';') return false;
  }
  return true;
}

bool EqualsIgnoringAsciiCase(const char* a, std::string_view b) {
  size_t i = 0;
  for (; i < b.size(); ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (x == 0) return false;
    const unsigned char lx = (x >= 'A' && x <= 'Z') ? x + 32 : x;
    const unsigned char ly = (y >= 'A' && y <= 'Z') ? y + 32 : y;
    if (lx != ly) return false;
  }
  return a[i] == 0;
}

// SQLite's memory statistics cost a mutex and bookkeeping on every
// allocation, and the driver never reads them; switching them off has to
// happen before the library initialises, so it is done before the first open.
void ConfigureSqliteOnce() {
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
}

}  // namespace

void AppendSqlText(std::string& out, std::string_view text) {
  out.push_back('\'');
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'') {
      out.append(text.data() + start, i - start + 1);
      out.push_back('\'');
      start = i + 1;
    }
  }
  out.append(text.data() + start, text.size() - start);
  out.push_back('\'');
}

void AppendSqlText(std::string& out, const char* text) {
  out.push_back('\'');
  const char* run = text;
  const char* p = text;
  for (; *p; ++p) {
    if (*p == '\'') {
      out.append(run, static_cast<size_t>(p - run + 1));
      out.push_back('\'');
      run = p + 1;
    }
  }
  out.append(run, static_cast<size_t>(p - run));
  out.push_back('\'');
}

std::string QuoteSqlIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string QuoteSqlText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  AppendSqlText(out, text);
  return out;
}

void SqlFailure::Raise(sqlite3* db, std::string_view sql) const {
  if (!sqlite_text_) vtsd::Raise(message_);
  if (!sql.empty()) RaiseText("SQL text holds more than one statement: " + std::string(sql));
  const char* text = db != nullptr ? sqlite3_errmsg(db) : nullptr;
  RaiseText(text != nullptr ? text : "SQLite failure");
}

// ---- LocalDatabase ---------------------------------------------------------

LocalDatabase OpenLocalDatabase(const std::string& file_name, const Msg& open_failure) {
  ConfigureSqliteOnce();
  std::u16string path;
  if (!Utf8ToUtf16(TempPath(file_name), path)) Raise(open_failure);
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open16(path.c_str(), &raw);
  // The connection is owned from here on, also when the open failed.
  LocalDatabase db(raw);
  if (rc != SQLITE_OK || raw == nullptr) Raise(open_failure);
  // Statements written with "" for the empty text (the empty-column query of
  // the catalogue finishing) must mean the same whatever the SQLite build's
  // default for double-quoted literals is.
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DML, 1, nullptr);
  // Executing the pragma reads the file header, so a file that is no database
  // or cannot be read fails here rather than in the step's first statement.
  if (sqlite3_exec(raw, "PRAGMA auto_vacuum=1", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Raise(open_failure);
  }
  return db;
}

namespace {

// Whether the file is as long as its header says: a database whose end was
// cut off (a send that broke off in its last pieces) can pass SQLite's page
// checks with rows that are no longer what they were.
bool WholeLengthOfItsPages(const std::string& path) {
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::Read);
  if (!file) return false;
  uint8_t header[100];
  if (file->Read(header, sizeof header) != static_cast<int64_t>(sizeof header)) return false;
  auto be32 = [&header](int at) {
    return (uint32_t{header[at]} << 24) | (uint32_t{header[at + 1]} << 16) | (uint32_t{header[at + 2]} << 8) |
           uint32_t{header[at + 3]};
  };
  const uint32_t raw_page = (uint32_t{header[16]} << 8) | header[17];
  const int64_t page_size = raw_page == 1 ? 65536 : raw_page;
  if (page_size < 512) return false;
  const int64_t size = file->Size();
  if (size <= 0 || size % page_size != 0) return false;
  // The page count in the header is valid when it was written with the
  // change counter it carries.
  if (be32(92) == be32(24) && be32(28) != 0) return size == page_size * int64_t{be32(28)};
  return true;
}

}  // namespace

bool LocalDatabaseIsIntact(const std::string& file_name) {
  ConfigureSqliteOnce();
  if (!WholeLengthOfItsPages(TempPath(file_name))) return false;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(TempPath(file_name).c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close_v2);
  if (rc != SQLITE_OK) return false;
  sqlite3_stmt* raw_stmt = nullptr;
  if (sqlite3_prepare_v2(raw, "PRAGMA quick_check", -1, &raw_stmt, nullptr) != SQLITE_OK) return false;
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw_stmt, sqlite3_finalize);
  if (sqlite3_step(raw_stmt) != SQLITE_ROW) return false;
  const unsigned char* first = sqlite3_column_text(raw_stmt, 0);
  return first != nullptr && std::string(reinterpret_cast<const char*>(first)) == "ok" &&
         sqlite3_step(raw_stmt) == SQLITE_DONE;
}

void CopyLocalDatabase(const std::string& from, const std::string& to, const Msg& failure) {
  LocalDatabase source = OpenLocalDatabase(from, failure);
  LocalDatabase target = OpenLocalDatabase(to, failure);
  sqlite3_backup* backup = sqlite3_backup_init(target.handle(), "main", source.handle(), "main");
  if (backup == nullptr) Raise(failure);
  const int stepped = sqlite3_backup_step(backup, -1);
  const int finished = sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE || finished != SQLITE_OK) Raise(failure);
}

LocalDatabase::LocalDatabase(LocalDatabase&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

LocalDatabase::~LocalDatabase() { Close(); }

void LocalDatabase::Close() {
  if (db_ == nullptr) return;
  // Closing with an open transaction rolls it back. close_v2 also copes with
  // a statement that a caller still holds: the connection goes once that
  // statement is finalized.
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool LocalDatabase::InTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

void LocalDatabase::Begin(const SqlFailure& failure) { Execute("BEGIN", failure); }

void LocalDatabase::Commit(const SqlFailure& failure) { Execute("COMMIT", failure); }

void LocalDatabase::Execute(std::string_view sql, const SqlFailure& failure) {
  StatementOwner statement;
  PrepareOne(sql, failure, statement.stmt);
  int rc;
  do {
    rc = sqlite3_step(statement.stmt);
  } while (rc == SQLITE_ROW);
  if (rc != SQLITE_DONE) failure.Raise(db_);
}

void LocalDatabase::PrepareOne(std::string_view sql, const SqlFailure& failure, sqlite3_stmt*& stmt) {
  if (db_ == nullptr) failure.Raise(nullptr);
  const char* end = sql.data() + sql.size();
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, &tail) != SQLITE_OK ||
      stmt == nullptr) {
    failure.Raise(db_);
  }
  // One text is one statement. Names that come from files (a task key read
  // back from the terminal) go into statements unquoted, so a text that goes
  // on after its statement is refused before anything of it runs.
  if (tail != nullptr && !IsBlank(tail, end)) failure.Raise(db_, sql);
}

LocalQuery LocalDatabase::Query(std::string_view sql, const SqlFailure& failure) {
  StatementOwner statement;
  PrepareOne(sql, failure, statement.stmt);
  return LocalQuery(std::exchange(statement.stmt, nullptr), failure);
}

LocalStatement LocalDatabase::Prepare(std::string_view sql, const SqlFailure& failure) {
  StatementOwner statement;
  PrepareOne(sql, failure, statement.stmt);
  return LocalStatement(std::exchange(statement.stmt, nullptr), failure);
}

// ---- LocalStatement --------------------------------------------------------

LocalStatement::LocalStatement(LocalStatement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), failure_(other.failure_) {}

LocalStatement& LocalStatement::operator=(LocalStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(other.stmt_, nullptr);
    failure_ = other.failure_;
  }
  return *this;
}

LocalStatement::~LocalStatement() { sqlite3_finalize(stmt_); }

void LocalStatement::BindText(int index, const char* text) {
  if (stmt_ == nullptr || sqlite3_bind_text(stmt_, index, text, -1, SQLITE_STATIC) != SQLITE_OK) {
    failure_.Raise(stmt_ != nullptr ? sqlite3_db_handle(stmt_) : nullptr);
  }
}

void LocalStatement::Run() {
  if (stmt_ == nullptr) failure_.Raise(nullptr);
  int rc;
  do {
    rc = sqlite3_step(stmt_);
  } while (rc == SQLITE_ROW);
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  if (rc != SQLITE_DONE) failure_.Raise(sqlite3_db_handle(stmt_));
}

// ---- LocalQuery ------------------------------------------------------------

LocalQuery::LocalQuery(LocalQuery&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), failure_(other.failure_) {}

LocalQuery::~LocalQuery() { sqlite3_finalize(stmt_); }

void LocalQuery::Fail() const { failure_.Raise(stmt_ != nullptr ? sqlite3_db_handle(stmt_) : nullptr); }

bool LocalQuery::Next() {
  if (stmt_ == nullptr) Fail();
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail();
}

int LocalQuery::ColumnIndex(std::string_view name) const {
  if (stmt_ == nullptr) return -1;
  const int count = sqlite3_column_count(stmt_);
  for (int i = 0; i < count; ++i) {
    const char* column = sqlite3_column_name(stmt_, i);
    if (column != nullptr && EqualsIgnoringAsciiCase(column, name)) return i;
  }
  return -1;
}

int LocalQuery::RequireColumn(std::string_view name) const {
  const int index = ColumnIndex(name);
  if (index < 0) Fail();
  return index;
}

bool LocalQuery::IsNull(std::string_view column) const {
  return sqlite3_column_type(stmt_, RequireColumn(column)) == SQLITE_NULL;
}

std::string LocalQuery::Text(std::string_view column) const { return Text(RequireColumn(column)); }

std::string LocalQuery::Text(int index) const {
  if (stmt_ == nullptr || index < 0 || index >= sqlite3_column_count(stmt_)) Fail();
  const auto* text = sqlite3_column_text(stmt_, index);
  if (text == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt_, index)));
}

}  // namespace vtsd
