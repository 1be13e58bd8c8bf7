// Import of one article package: 100,000 records of 9 attributes (about
// 15 MB of XML) into a fresh catalogue. Prints records per second and the
// peak memory the import adds, beside two floors measured in the same run:
// parsing alone, and inserting the same rows through one prepared statement.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "bench/figures.hpp"
#include "bench/floors.hpp"
#include "bench/process_memory.hpp"
#include "article_generator.hpp"
#include "catalogue/article_import.hpp"
#include "catalogue/catalogue_database.hpp"
#include "store/xml_table.hpp"
#include "tests/support/scratch_dir.hpp"

namespace {

using vtsd::bench::ResetPeakRss;
using vtsd::bench::StatusBytes;

constexpr size_t kRecords = 100000;
constexpr int kAttributes = 9;

// Seconds per run of the import and of its two floors, for the figures.
double import_seconds = 0, parse_seconds = 0, insert_seconds = 0;

double MeanSeconds(const benchmark::State& state, double total) {
  return state.iterations() > 0 ? total / static_cast<double>(state.iterations()) : 0;
}

template <class Work>
double SecondsOf(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

const std::string& Package() {
  static const std::string text = [] {
    vtsd::bench::ArticleTableOptions options;
    options.records = kRecords;
    options.attributes = kAttributes;
    return vtsd::bench::GenerateArticleTable(options);
  }();
  return text;
}

// A TempDir of the benchmark's own, removed at exit.
void UseScratchTempDir() { static vtsd::test::ScratchTempDir dir; }

void CreateCatalogue(benchmark::State& state) {
  try {
    vtsd::CreateCatalogueDatabase();
  } catch (const vtsd::DriverError& e) {
    state.SkipWithError(e.what());
  }
}

// Peak memory of one import beyond the text it is given, relative to the
// text's size. Runs first, on a heap that nothing else has grown yet.
void BM_ImportPeakMemory(benchmark::State& state) {
  UseScratchTempDir();
  const std::string& text = Package();
  double extra = 0;
  bool peak_reset = false;
  for (auto _ : state) {
    state.PauseTiming();
    CreateCatalogue(state);
    std::string copy = text;
    malloc_trim(0);
    const double rss_before = StatusBytes("VmRSS");
    peak_reset = ResetPeakRss();
    state.ResumeTiming();
    vtsd::ImportArticleTable(std::move(copy));
    state.PauseTiming();
    extra = StatusBytes("VmHWM") - rss_before;
    state.ResumeTiming();
  }
  if (!peak_reset) state.SkipWithError("the peak RSS mark cannot be reset here");
  state.counters["text_MB"] = static_cast<double>(text.size()) / 1e6;
  state.counters["peak_extra_MB"] = extra / 1e6;
  state.counters["peak_extra_per_text"] = extra / static_cast<double>(text.size());
}

void BM_ImportPackage(benchmark::State& state) {
  UseScratchTempDir();
  const std::string& text = Package();
  double total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CreateCatalogue(state);
    std::string copy = text;
    state.ResumeTiming();
    total += SecondsOf([&] {
      if (!vtsd::ImportArticleTable(std::move(copy))) state.SkipWithError("import failed");
    });
  }
  import_seconds = MeanSeconds(state, total);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRecords));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// Floor 1: parsing the package and visiting every attribute, nothing stored.
void BM_ParseOnlyFloor(benchmark::State& state) {
  const std::string& text = Package();
  double total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string copy = text;
    state.ResumeTiming();
    total += SecondsOf([&] {
      vtsd::XmlTable table;
      table.Load(std::move(copy));
      size_t bytes = 0;
      table.ForEachRecord([&](const vtsd::XmlRecord& record) {
        record.ForEachAttribute([&](size_t, const char*, const char* value) { bytes += value[0] != 0; });
      });
      benchmark::DoNotOptimize(bytes);
    });
  }
  parse_seconds = MeanSeconds(state, total);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRecords));
}

// Floor 2: the same rows through one prepared statement with bound values,
// in one transaction: what SQLite needs at the least to store them.
void BM_PreparedInsertFloor(benchmark::State& state) {
  UseScratchTempDir();
  vtsd::XmlTable table;
  table.Load(Package());
  const std::string path = vtsd::TempPath("Merxa.db");
  double total = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CreateCatalogue(state);
    state.ResumeTiming();
    total += SecondsOf([&] { vtsd::bench::InsertThroughOnePreparedStatement(table, path); });
  }
  insert_seconds = MeanSeconds(state, total);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kRecords));
  if (import_seconds > 0 && parse_seconds > 0) {
    vtsd::bench::RecordFigure({"import of 100,000 records, 9 attributes", import_seconds,
                               parse_seconds + insert_seconds, "parsing alone + one prepared insert",
                               ">= 300,000 records/s and <= 1.5x the floor", static_cast<double>(kRecords)});
  }
}

BENCHMARK(BM_ImportPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ImportPackage)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ParseOnlyFloor)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PreparedInsertFloor)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

VTSD_BENCHMARK_MAIN_WITH_FIGURES()
