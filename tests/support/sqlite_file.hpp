// Test helpers: a fresh TempDir per test and direct SQLite access to the files
// the driver writes, independent of the driver's own database layer.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.hpp"

namespace vtsd::test {

using Cell = std::optional<std::string>;
using Row = std::vector<Cell>;

// A plain SQLite connection to one file, for preparing fixtures and checking
// results.
class SqliteFile {
 public:
  explicit SqliteFile(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
      std::string message = sqlite3_errmsg(db_);
      sqlite3_close(db_);
      throw std::runtime_error("cannot open " + path + ": " + message);
    }
  }
  ~SqliteFile() { sqlite3_close(db_); }
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error ? error : "?";
      sqlite3_free(error);
      throw std::runtime_error(sql + ": " + message);
    }
  }

  std::vector<Row> Rows(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    }
    std::vector<Row> rows;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      Row row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
          row.emplace_back(std::nullopt);
        } else {
          row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)));
        }
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    return rows;
  }

  // The single value of a one-row, one-column query.
  Cell Value(const std::string& sql) {
    const auto rows = Rows(sql);
    if (rows.size() != 1 || rows[0].size() != 1) throw std::runtime_error(sql + ": not one value");
    return rows[0][0];
  }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace vtsd::test
