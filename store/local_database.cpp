#include "store/local_database.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <memory>

#include <cstdint>
#include <cstring>
#include <string>
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

namespace terminal_file_text {
const Msg kDamagedFilePrefix{"№Файл ", "№The file "};
const Msg kDamagedFileSuffix{" на ТСД повреждён: драйвер не может его прочитать.",
                             " on the TSD is damaged: the driver cannot read it."};
}  // namespace terminal_file_text

// What keeps a connection to a file from the terminal within bounds: the
// work budget of the statement running now and the message a damaged file
// raises.
class TerminalFileGuard {
 public:
  // SQLite calls the progress handler every kStepsPerCall virtual-machine
  // steps. Reading every row of a file once takes about four steps a row:
  // 270 steps per KiB of file for the smallest rows a document holds
  // (measured on 200,000 one-character articles), 150 for real barcodes.
  // The bound allows 4,000 steps per KiB, and a base for small files; a
  // statement that needs more is reading what the file does not hold.
  static constexpr int kStepsPerCall = 1000;
  static constexpr int64_t kBaseSteps = 2'000'000;
  static constexpr int64_t kStepsPerKiB = 4'000;

  TerminalFileGuard(int64_t file_bytes, const Msg& damaged)
      : file_bytes_(file_bytes), calls_allowed_((kBaseSteps + kStepsPerKiB * (file_bytes / 1024)) / kStepsPerCall) {
    SetDamaged(damaged);
  }

  // A statement starts: its budget is whole again.
  void StartStatement() {
    calls_used_ = 0;
    exceeded_ = false;
  }
  static int OnProgress(void* self) {
    auto* guard = static_cast<TerminalFileGuard*>(self);
    if (++guard->calls_used_ <= guard->calls_allowed_) return 0;
    guard->exceeded_ = true;
    return 1;  // SQLite ends the statement with SQLITE_INTERRUPT
  }

  // Whether the failure just seen on `db` comes from the file being what no
  // terminal writes: a statement that ran past its bound, a page, record or
  // schema SQLite finds malformed, a value beyond the length limit, or a
  // schema that asks for what the hardening refuses (a view, a function that
  // is not harmless, loading code).
  bool IsDamage(sqlite3* db) const {
    if (exceeded_) return true;
    if (db == nullptr) return false;
    switch (sqlite3_errcode(db) & 0xFF) {
      case SQLITE_CORRUPT:
      case SQLITE_NOTADB:
      case SQLITE_TOOBIG:
      case SQLITE_INTERRUPT:
        return true;
      case SQLITE_ERROR: {
        const char* text = sqlite3_errmsg(db);
        for (const char* refused : {"access to view ", "unsafe use of ", "non-deterministic use of ",
                                    "not authorized", "malformed database schema"}) {
          if (text != nullptr && std::strncmp(text, refused, std::strlen(refused)) == 0) return true;
        }
        return false;
      }
      default:
        return false;
    }
  }

  void SetDamaged(const Msg& damaged) {
    damaged_ru_ = damaged.ru;
    damaged_en_ = damaged.en;
  }
  [[noreturn]] void RaiseDamaged() const { Raise(Msg{damaged_ru_.c_str(), damaged_en_.c_str()}); }
  int64_t file_bytes() const { return file_bytes_; }

 private:
  int64_t file_bytes_;
  int64_t calls_allowed_;
  int64_t calls_used_ = 0;
  bool exceeded_ = false;
  std::string damaged_ru_;
  std::string damaged_en_;
};

namespace {

// A failing statement on a terminal file that the file's damage explains
// raises the damaged message; anything else the step's own.
[[noreturn]] void RaiseStatementFailure(const TerminalFileGuard* guard, sqlite3* db, const SqlFailure& failure,
                                        std::string_view sql = {}) {
  if (guard != nullptr && guard->IsDamage(db)) guard->RaiseDamaged();
  failure.Raise(db, sql);
}

// The limits of a connection to a file from the terminal, sized to what
// its formats hold: texts of a few hundred characters in tables of at most
// thirteen columns, read and changed by the driver's short statements.
struct TerminalLimit {
  int id;
  int value;
};
constexpr TerminalLimit kTerminalLimits[] = {
    {SQLITE_LIMIT_LENGTH, 1'000'000},       // one text, blob or row
    {SQLITE_LIMIT_SQL_LENGTH, 1'000'000},   // one statement (a task line with 1C's values)
    {SQLITE_LIMIT_COLUMN, 100},             // columns of a table, an index or a result
    {SQLITE_LIMIT_EXPR_DEPTH, 100},
    {SQLITE_LIMIT_COMPOUND_SELECT, 4},
    {SQLITE_LIMIT_VDBE_OP, 100'000},        // the program of one statement
    {SQLITE_LIMIT_FUNCTION_ARG, 8},
    {SQLITE_LIMIT_ATTACHED, 0},
    {SQLITE_LIMIT_LIKE_PATTERN_LENGTH, 100},
    {SQLITE_LIMIT_VARIABLE_NUMBER, 16},
    {SQLITE_LIMIT_TRIGGER_DEPTH, 1},
};

// Hardens an open connection to a file from the terminal, before any
// statement reads its schema. False when SQLite refuses a setting.
bool HardenTerminalConnection(sqlite3* db, TerminalFileGuard* guard) {
  int applied = 0;
  const std::pair<int, int> settings[] = {
      {SQLITE_DBCONFIG_DEFENSIVE, 1},
      {SQLITE_DBCONFIG_ENABLE_TRIGGER, 0},
      {SQLITE_DBCONFIG_ENABLE_VIEW, 0},
      {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
      {SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0},
  };
  for (const auto& [option, value] : settings) {
    if (sqlite3_db_config(db, option, value, &applied) != SQLITE_OK || applied != value) return false;
  }
  for (const TerminalLimit& limit : kTerminalLimits) sqlite3_limit(db, limit.id, limit.value);
  sqlite3_progress_handler(db, TerminalFileGuard::kStepsPerCall, &TerminalFileGuard::OnProgress, guard);
  return sqlite3_exec(db, "PRAGMA cell_size_check=ON", nullptr, nullptr, nullptr) == SQLITE_OK &&
         sqlite3_exec(db, "PRAGMA mmap_size=0", nullptr, nullptr, nullptr) == SQLITE_OK;
}

Msg DamagedFileMessage(const std::string& file_name, std::string& ru, std::string& en) {
  using namespace terminal_file_text;
  ru = std::string(kDamagedFilePrefix.ru) + file_name + kDamagedFileSuffix.ru;
  en = std::string(kDamagedFilePrefix.en) + file_name + kDamagedFileSuffix.en;
  return Msg{ru.c_str(), en.c_str()};
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

namespace {

// What a file's first bytes and its length say, read with one open.
struct FileShape {
  int64_t size = 0;
  bool is_database = false;  // it begins as a SQLite database does
  // It is as long as its header says: a database whose end was cut off (a
  // send that broke off in its last pieces) can pass SQLite's page checks
  // with rows that are no longer what they were, and one whose header claims
  // more pages than it has can make SQLite take records for longer than the
  // whole file.
  bool whole = false;
};
FileShape ReadFileShape(const std::string& path);

// The open both modes share, up to the first statement; `harden` runs on the
// connection before it. Raises `open_failure`.
template <class Harden>
LocalDatabase OpenAndConfigure(LocalDatabase db, const Msg& open_failure, Harden&& harden) {
  sqlite3* raw = db.handle();
  if (raw == nullptr) Raise(open_failure);
  // Statements written with "" for the empty text (the empty-column query of
  // the catalogue finishing) must mean the same whatever the SQLite build's
  // default for double-quoted literals is.
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DML, 1, nullptr);
  if (!harden(raw)) Raise(open_failure);
  // Executing the pragma reads the file header, so a file that is no database
  // or cannot be read fails here rather than in the step's first statement.
  if (sqlite3_exec(raw, "PRAGMA auto_vacuum=1", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Raise(open_failure);
  }
  return db;
}

sqlite3* OpenUtf16(const std::string& file_name, const Msg& open_failure, bool& opened) {
  ConfigureSqliteOnce();
  std::u16string path;
  if (!Utf8ToUtf16(TempPath(file_name), path)) Raise(open_failure);
  sqlite3* raw = nullptr;
  opened = sqlite3_open16(path.c_str(), &raw) == SQLITE_OK && raw != nullptr;
  return raw;
}

}  // namespace

LocalDatabase::LocalDatabase(sqlite3* db) : db_(db) {}

LocalDatabase OpenLocalDatabase(const std::string& file_name, const Msg& open_failure) {
  bool opened = false;
  // The connection is owned from here on, also when the open failed.
  LocalDatabase db(OpenUtf16(file_name, open_failure, opened));
  if (!opened) Raise(open_failure);
  return OpenAndConfigure(std::move(db), open_failure, [](sqlite3*) { return true; });
}

LocalDatabase OpenTerminalDatabase(const std::string& file_name, const Msg& open_failure) {
  std::string ru, en;
  const Msg damaged = DamagedFileMessage(file_name, ru, en);
  // A database that is not as long as its header says is damaged before
  // anything of it is read; a file that is no database at all fails to open
  // with the step's own message.
  const FileShape shape = ReadFileShape(TempPath(file_name));
  if (shape.is_database && !shape.whole) Raise(damaged);
  bool opened = false;
  LocalDatabase db(OpenUtf16(file_name, open_failure, opened));
  db.guard_ = std::make_unique<TerminalFileGuard>(shape.size, damaged);
  if (!opened) Raise(open_failure);
  TerminalFileGuard* guard = db.guard_.get();
  LocalDatabase hardened = OpenAndConfigure(std::move(db), open_failure, [guard](sqlite3* raw) {
    return HardenTerminalConnection(raw, guard);
  });
  // Neither the terminal application nor the driver writes views into these
  // files; one can only stand in for a table the driver reads. Reading the
  // schema here also finds a malformed one before the step begins.
  LocalQuery views = hardened.Query("SELECT count(*) FROM sqlite_master WHERE type='view'", open_failure);
  if (!views.Next() || views.Text(0) != "0") hardened.RaiseDamaged();
  return hardened;
}

void LocalDatabase::SetDamagedFailure(const Msg& damaged) {
  if (guard_) guard_->SetDamaged(damaged);
}

void LocalDatabase::RaiseDamaged() const {
  // Only a file from the terminal is ever found damaged; the general text
  // stands in should a step ask on another.
  if (!guard_) Raise(terminal_file_text::kDamagedFilePrefix);
  guard_->RaiseDamaged();
}

int64_t LocalDatabase::FileBytes() const { return guard_ ? guard_->file_bytes() : 0; }

void LocalDatabase::Fail(const SqlFailure& failure, std::string_view sql) const {
  RaiseStatementFailure(guard_.get(), db_, failure, sql);
}

namespace {

FileShape ReadFileShape(const std::string& path) {
  FileShape shape;
  std::unique_ptr<platform::File> file = platform::File::Open(path, platform::File::Mode::Read);
  if (!file) return shape;
  shape.size = std::max<int64_t>(0, file->Size());
  uint8_t header[100];
  if (file->Read(header, sizeof header) != static_cast<int64_t>(sizeof header)) return shape;
  static const char kMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
  shape.is_database = std::memcmp(header, kMagic, sizeof kMagic) == 0;
  auto be32 = [&header](int at) {
    return (uint32_t{header[at]} << 24) | (uint32_t{header[at + 1]} << 16) | (uint32_t{header[at + 2]} << 8) |
           uint32_t{header[at + 3]};
  };
  const uint32_t raw_page = (uint32_t{header[16]} << 8) | header[17];
  const int64_t page_size = raw_page == 1 ? 65536 : raw_page;
  if (page_size < 512 || shape.size <= 0 || shape.size % page_size != 0) return shape;
  // The page count in the header is valid when it was written with the
  // change counter it carries.
  shape.whole = be32(92) == be32(24) && be32(28) != 0 ? shape.size == page_size * int64_t{be32(28)} : true;
  return shape;
}

}  // namespace

bool LocalDatabaseIsIntact(const std::string& file_name) {
  ConfigureSqliteOnce();
  const FileShape shape = ReadFileShape(TempPath(file_name));
  if (!shape.whole) return false;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(TempPath(file_name).c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(raw, sqlite3_close_v2);
  if (rc != SQLITE_OK) return false;
  TerminalFileGuard guard(shape.size, terminal_file_text::kDamagedFilePrefix);
  if (!HardenTerminalConnection(raw, &guard)) return false;
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

LocalDatabase::LocalDatabase(LocalDatabase&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), guard_(std::move(other.guard_)) {}

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
  if (rc != SQLITE_DONE) Fail(failure);
}

void LocalDatabase::PrepareOne(std::string_view sql, const SqlFailure& failure, sqlite3_stmt*& stmt) {
  if (db_ == nullptr) failure.Raise(nullptr);
  if (guard_) guard_->StartStatement();
  const char* end = sql.data() + sql.size();
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, &tail) != SQLITE_OK ||
      stmt == nullptr) {
    Fail(failure);
  }
  // One text is one statement. Names that come from files (a task key read
  // back from the terminal) go into statements unquoted, so a text that goes
  // on after its statement is refused before anything of it runs.
  if (tail != nullptr && !IsBlank(tail, end)) failure.Raise(db_, sql);
}

LocalQuery LocalDatabase::Query(std::string_view sql, const SqlFailure& failure) {
  StatementOwner statement;
  PrepareOne(sql, failure, statement.stmt);
  return LocalQuery(std::exchange(statement.stmt, nullptr), failure, guard_.get());
}

LocalStatement LocalDatabase::Prepare(std::string_view sql, const SqlFailure& failure) {
  StatementOwner statement;
  PrepareOne(sql, failure, statement.stmt);
  return LocalStatement(std::exchange(statement.stmt, nullptr), failure, guard_.get());
}

// ---- LocalStatement --------------------------------------------------------

LocalStatement::LocalStatement(LocalStatement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), failure_(other.failure_), guard_(other.guard_) {}

LocalStatement& LocalStatement::operator=(LocalStatement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(other.stmt_, nullptr);
    failure_ = other.failure_;
    guard_ = other.guard_;
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
  if (guard_ != nullptr) guard_->StartStatement();
  int rc;
  do {
    rc = sqlite3_step(stmt_);
  } while (rc == SQLITE_ROW);
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  if (rc != SQLITE_DONE) RaiseStatementFailure(guard_, sqlite3_db_handle(stmt_), failure_);
}

// ---- LocalQuery ------------------------------------------------------------

LocalQuery::LocalQuery(LocalQuery&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), failure_(other.failure_), guard_(other.guard_) {}

LocalQuery::~LocalQuery() { sqlite3_finalize(stmt_); }

void LocalQuery::Fail() const {
  RaiseStatementFailure(guard_, stmt_ != nullptr ? sqlite3_db_handle(stmt_) : nullptr, failure_);
}

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
