#include "tests/selection/fixtures.hpp"

#include <fstream>
#include <sstream>

namespace vtsd::test {

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

Db::Db(const std::string& path) {
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("cannot open " + path);
}

Db::~Db() { sqlite3_close(db_); }

void Db::Exec(const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string message = error ? error : "?";
    sqlite3_free(error);
    throw std::runtime_error(message + " in " + sql);
  }
}

std::vector<std::vector<std::string>> Db::Rows(const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + " in " + sql);
  }
  std::vector<std::vector<std::string>> rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const auto* t = sqlite3_column_text(stmt, i);
      row.push_back(t ? reinterpret_cast<const char*>(t) : "<NULL>");
    }
    rows.push_back(row);
  }
  sqlite3_finalize(stmt);
  return rows;
}

std::vector<std::string> Db::Names(const std::string& type) {
  std::vector<std::string> names;
  for (const auto& row : Rows("SELECT name FROM sqlite_master WHERE type='" + type +
                              "' AND name NOT LIKE 'sqlite_%' ORDER BY name")) {
    names.push_back(row[0]);
  }
  return names;
}

std::string Dump(const std::string& path) {
  Db db(path);
  std::string out;
  for (const auto& entry : db.Rows("SELECT type,name,sql FROM sqlite_master ORDER BY type,name")) {
    out += entry[0] + " " + entry[1] + ": " + entry[2] + "\n";
    if (entry[0] != "table") continue;
    for (const auto& row : db.Rows("SELECT * FROM \"" + entry[1] + "\"")) {
      for (const auto& value : row) out += " [" + value + "]";
      out += "\n";
    }
  }
  return out;
}

}  // namespace vtsd::test
