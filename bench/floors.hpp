// What SQLite needs at the least for the driver's work, measured beside it.
#pragma once

#include <sqlite3.h>

#include <string>

#include "store/xml_table.hpp"

namespace vtsd::bench {

// The rows of a parsed package (nine attributes a record) stored in the
// catalogue file at `path` through one prepared insert with bound values, in
// one transaction.
inline void InsertThroughOnePreparedStatement(const XmlTable& table, const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "insert into Articule (Articule,Field_2,Field_3,Field_4,Field_5,Field_6,Field_7,Field_8,"
                     "Field_9) values(?,?,?,?,?,?,?,?,?)",
                     -1, &insert, nullptr);
  table.ForEachRecord([&](const XmlRecord& record) {
    record.ForEachAttribute([&](size_t position, const char*, const char* value) {
      sqlite3_bind_text(insert, static_cast<int>(position), value, -1, SQLITE_STATIC);
    });
    sqlite3_step(insert);
    sqlite3_reset(insert);
  });
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

}  // namespace vtsd::bench
