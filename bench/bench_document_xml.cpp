// Building the document XML that DownloadTable returns, from an order file
// of one document with N lines (one value in ten needs escaping). Prints
// lines per second for several N, so that a cost growing faster than the
// text shows as a falling rate, beside a floor measured in the same run: the
// same rows read through one prepared statement and appended unescaped.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <filesystem>
#include <string>

#include "base/temp_dir.hpp"
#include "selection/document_download.hpp"
#include "selection/selection_window.hpp"
#include "tests/support/scratch_dir.hpp"

namespace {

// "Orders.db" holding one document "Big" with `lines` lines.
void WriteOrders(int64_t lines) {
  static vtsd::test::ScratchTempDir dir;  // the benchmark's own TempDir, removed at exit
  const std::string path = vtsd::TempPath("Orders.db");
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db,
               "BEGIN;CREATE TABLE Registry (N INTEGER PRIMARY KEY AUTOINCREMENT,Name TEXT,RealName TEXT);"
               "INSERT INTO Registry(Name,RealName) VALUES ('Big','B1');"
               "CREATE TABLE order_B1 (N INTEGER PRIMARY KEY AUTOINCREMENT,Articule TEXT,Value TEXT);",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO order_B1(Articule,Value) VALUES (?,?)", -1, &insert, nullptr);
  for (int64_t i = 0; i < lines; ++i) {
    const std::string articule =
        (i % 10 == 0 ? "Tea 'Lotus' & <Co> " : "46012345") + std::to_string(1000000 + i);
    const std::string value = std::to_string(i % 97) + ".5";
    sqlite3_bind_text(insert, 1, articule.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, value.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

void BM_BuildDocumentXml(benchmark::State& state) {
  WriteOrders(state.range(0));
  const std::string chosen = std::string("Big") + vtsd::kChoiceSeparator;
  size_t bytes = 0;
  for (auto _ : state) {
    vtsd::BuildDocumentXml("Orders.db", chosen);
    bytes = vtsd::DocumentXml().size();
    benchmark::DoNotOptimize(bytes);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["xml_MB"] = static_cast<double>(bytes) / 1e6;
}

// Floor: the same rows read through one prepared statement and appended to a
// text without escaping or record markup.
void BM_ReadRowsFloor(benchmark::State& state) {
  WriteOrders(state.range(0));
  const std::string path = vtsd::TempPath("Orders.db");
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db, "Select Articule,Value From order_B1", -1, &select, nullptr);
    std::string out;
    while (sqlite3_step(select) == SQLITE_ROW) {
      out.append(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)),
                 static_cast<size_t>(sqlite3_column_bytes(select, 0)));
      out.append(reinterpret_cast<const char*>(sqlite3_column_text(select, 1)),
                 static_cast<size_t>(sqlite3_column_bytes(select, 1)));
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_BuildDocumentXml)->Arg(10000)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRowsFloor)->Arg(10000)->Arg(100000)->Arg(400000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
