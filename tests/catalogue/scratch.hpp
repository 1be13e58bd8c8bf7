// Test support for the local database code: a fresh TempDir of the test's
// own, a read-only view of a database file that does not go through the code
// under test, and the text of a raised DriverError.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "addin/messages.hpp"
#include "addin/temp_dir.hpp"
#include "catalogue/upload_state.hpp"

namespace vtsd::testing {

class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    for (;;) {
      dir_ = std::filesystem::temp_directory_path() / ("vtsd-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(dir_)) break;
    }
    previous_temp_dir_ = TempDir();
    SetTempDir(dir_.string() + "/");
    SetMessageLanguage(Language::Russian);
    CatalogueUploadState() = UploadState{};
  }
  void TearDown() override {
    SetTempDir(previous_temp_dir_);
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;

 private:
  std::string previous_temp_dir_;
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

// The text of the DriverError that `f` raises, or a note that it raised none.
template <class F>
std::string RaisedText(F&& f) {
  try {
    f();
  } catch (const DriverError& e) {
    return e.text();
  }
  return "<nothing raised>";
}

}  // namespace vtsd::testing
