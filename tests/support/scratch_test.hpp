// Test support for the local database code: a fresh TempDir of the test's
// own, a read-only view of a database file that does not go through the code
// under test, and the text of a raised DriverError.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "catalogue/upload_state.hpp"
#include "tests/support/raised_text.hpp"
#include "tests/support/scratch_dir.hpp"

namespace vtsd::testing {

class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_.emplace();
    dir_ = scratch_->path();
    SetMessageLanguage(Language::Russian);
    CatalogueUploadState() = UploadState{};
  }
  void TearDown() override { scratch_.reset(); }
  std::string PathOf(const std::string& name) const { return scratch_->File(name); }

  std::filesystem::path dir_;

 private:
  std::optional<test::ScratchTempDir> scratch_;
};

// Rows of a query as texts; NULL is nullopt.
using Row = std::vector<std::optional<std::string>>;

class DatabaseView {
 public:
  explicit DatabaseView(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << "cannot open " << path;
    }
  }
  ~DatabaseView() { sqlite3_close(db_); }
  DatabaseView(const DatabaseView&) = delete;
  DatabaseView& operator=(const DatabaseView&) = delete;

  std::vector<Row> Rows(const std::string& sql) const {
    std::vector<Row> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
      return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      Row row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const auto* text = sqlite3_column_text(stmt, i);
        if (text == nullptr) {
          row.push_back(std::nullopt);
        } else {
          row.emplace_back(std::string(reinterpret_cast<const char*>(text),
                                       static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
        }
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return rows;
  }

  // First column of the first row ("<none>" when there is no row, "<null>"
  // for NULL).
  std::string Scalar(const std::string& sql) const {
    const auto rows = Rows(sql);
    if (rows.empty() || rows[0].empty()) return "<none>";
    return rows[0][0].value_or("<null>");
  }

  std::vector<std::string> Column(const std::string& sql) const {
    std::vector<std::string> values;
    for (const Row& row : Rows(sql)) values.push_back(row.at(0).value_or("<null>"));
    return values;
  }

 private:
  sqlite3* db_ = nullptr;
};

using test::RaisedText;

}  // namespace vtsd::testing
