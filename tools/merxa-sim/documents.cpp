#include "documents.hpp"

#include <sqlite3.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

namespace merxa {

namespace fs = std::filesystem;

namespace {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

bool Exec(sqlite3* db, const std::string& sql, std::string& error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = std::string(message ? message : "SQLite failure") + " in: " + sql;
  sqlite3_free(message);
  return false;
}

DbPtr Open(const fs::path& file, std::string& error) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open(file.string().c_str(), &raw);
  DbPtr db(raw);
  if (rc != SQLITE_OK) {
    error = "cannot open " + file.string();
    return nullptr;
  }
  return db;
}

bool IsTableSuffix(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool WriteOrdersDatabase(const fs::path& file, const std::string& description, std::string& error) {
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(description);
  } catch (const std::exception& e) {
    error = std::string("document description is no JSON: ") + e.what();
    return false;
  }
  if (!doc.is_object() || !doc.contains("documents") || !doc["documents"].is_array()) {
    error = "document description needs a \"documents\" array";
    return false;
  }
  std::error_code ec;
  fs::remove(file, ec);
  DbPtr db = Open(file, error);
  if (!db) return false;
  std::string sql =
      "BEGIN;"
      "CREATE TABLE Registry (N INTEGER PRIMARY KEY AUTOINCREMENT,Name TEXT,RealName TEXT,Date TEXT,"
      "Attr_2 TEXT,Attr_3 TEXT,Attr_4 TEXT,Attr_5 TEXT,Attr_6 TEXT,Attr_7 TEXT,Attr_8 TEXT,Attr_9 TEXT,"
      "Attr_10 TEXT);";
  int number = 0;
  try {
    for (const auto& d : doc["documents"]) {
      ++number;
      const std::string name = d.at("name").get<std::string>();
      std::string key = d.contains("key") ? d["key"].get<std::string>() : std::to_string(number);
      if (!IsTableSuffix(key)) {
        error = "document key is no table suffix: " + key;
        return false;
      }
      sql += "INSERT INTO Registry(Name,RealName,Date,Attr_2) VALUES (" + Quote(name) + "," + Quote(key) +
             ",'10.12.2026 09:00:00'," + Quote(std::to_string(d.value("lines", nlohmann::json::array()).size())) +
             ");";
      sql += "CREATE TABLE IF NOT EXISTS order_" + key +
             "(N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Value TEXT,Date TEXT);";
      for (const auto& line : d.value("lines", nlohmann::json::array())) {
        std::string values;
        for (size_t i = 0; i < 2; ++i) {
          if (i > 0) values += ",";
          const auto& v = line.at(i);
          values += v.is_null() ? std::string("NULL") : Quote(v.is_string() ? v.get<std::string>() : v.dump());
        }
        sql += "INSERT INTO order_" + key + "(Articule,Value) VALUES (" + values + ");";
      }
    }
  } catch (const std::exception& e) {
    error = std::string("document description: ") + e.what();
    return false;
  }
  sql += "COMMIT;";
  return Exec(db.get(), sql, error);
}

int PickSelectionTasks(const fs::path& file, std::string& error) {
  DbPtr db = Open(file, error);
  if (!db) return -1;
  std::vector<std::string> keys;
  {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db.get(), "SELECT RealName FROM Registry", -1, &stmt, nullptr) != SQLITE_OK) {
      error = sqlite3_errmsg(db.get());
      return -1;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(stmt, 0);
      if (text != nullptr) keys.emplace_back(reinterpret_cast<const char*>(text));
    }
    sqlite3_finalize(stmt);
  }
  int filled = 0;
  if (!Exec(db.get(), "BEGIN", error)) return -1;
  for (const std::string& key : keys) {
    if (!IsTableSuffix(key)) continue;
    sqlite3_stmt* stmt = nullptr;
    const std::string probe = "SELECT count(*) FROM order_" + key;
    if (sqlite3_prepare_v2(db.get(), probe.c_str(), -1, &stmt, nullptr) != SQLITE_OK) continue;
    const bool empty = sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) == 0;
    sqlite3_finalize(stmt);
    if (!empty) continue;
    if (!Exec(db.get(),
              "INSERT INTO order_" + key + "(Articule,Value) SELECT Articule,Value FROM order_podbor_" + key +
                  " ORDER BY N",
              error)) {
      Exec(db.get(), "ROLLBACK", error);
      return -1;
    }
    ++filled;
  }
  if (!Exec(db.get(), "COMMIT", error)) return -1;
  return filled;
}

}  // namespace merxa
