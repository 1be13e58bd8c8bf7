// The catalogue upload:
//  - the local part of a one-call "last" upload of 100,000 articles (9
//    attributes, one package record in ten): import, empty-column rebuild and
//    package barcodes, each in seconds, and records per second overall;
//  - the package barcodes alone on 1,000,000 articles with 100,000 package
//    records, beside the same statements without the lookup index on 20,000
//    articles (the unindexed step grows with the square of the table, so a
//    million articles would take hours);
//  - a whole upload of 100,000 articles in five packages through the terminal
//    simulator over loopback, the time of each call and of each stage.
// The local part and the barcodes are printed at the end beside their floors
// measured in the same run. Figures are printed, never asserted.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "addin/dispatch.hpp"
#include "base/messages.hpp"
#include "base/settings.hpp"
#include "base/temp_dir.hpp"
#include "article_generator.hpp"
#include "bench/figures.hpp"
#include "bench/floors.hpp"
#include "catalogue/article_import.hpp"
#include "catalogue/catalogue_database.hpp"
#include "catalogue/finishing.hpp"
#include "catalogue/upload.hpp"
#include "catalogue/upload_state.hpp"
#include "link/connection.hpp"
#include "link/application_version.hpp"
#include "link/remote_files.hpp"
#include "link/session.hpp"
#include "options.hpp"
#include "platform/socket.hpp"
#include "simulator.hpp"
#include "store/local_database.hpp"
#include "store/xml_table.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsOf(const std::function<void()>& step) {
  const auto start = Clock::now();
  step();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A directory of the benchmark's own, removed at exit.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag) {
    std::random_device random;
    do {
      dir_ = std::filesystem::temp_directory_path() / ("vtsd-bench-" + tag + "-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(dir_));
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::filesystem::path& path() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

void UseTempDir() {
  static ScratchDir dir("upload");
  vtsd::SetTempDir(dir.path().string() + "/");
}

// One package of `records` articles; one package record follows every
// `package_every` base records.
std::string Articles(size_t records, size_t package_every, uint64_t first_number = 1) {
  vtsd::bench::ArticleTableOptions options;
  options.records = records;
  options.attributes = 9;
  options.package_every = package_every;
  options.first_number = first_number;
  return vtsd::bench::GenerateArticleTable(options);
}

// A new catalogue holding the package, squeezed, as FillPackageBarcodes
// finds it in a "last" call.
void PrepareSqueezedCatalogue(const std::string& package) {
  vtsd::UploadState& state = vtsd::CatalogueUploadState();
  state = vtsd::UploadState{};
  vtsd::CreateCatalogueDatabase();
  vtsd::ImportArticleTable(package);
  vtsd::DropEmptyColumns();
}

int64_t CountRows(const char* table) {
  sqlite3* db = nullptr;
  int64_t count = -1;
  if (sqlite3_open(vtsd::TempPath("Merxa.db").c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, (std::string("select count(*) from ") + table).c_str(), -1, &stmt, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      count = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return count;
}

// ---- Floors ---------------------------------------------------------------------

// The rows of the package through one prepared insert with bound values into
// the new catalogue: what SQLite needs at the least to store them, parsing
// included.
double ImportFloorSeconds(const std::string& package) {
  vtsd::CreateCatalogueDatabase();
  return SecondsOf([&] {
    vtsd::XmlTable table;
    table.Load(package);
    vtsd::bench::InsertThroughOnePreparedStatement(table, vtsd::TempPath("Merxa.db"));
  });
}

// The Barcodes rows of the squeezed catalogue written by the driver's
// lookups and insert, each prepared once with its values bound, with the
// driver's lookup index: what SQLite needs at the least for the step. Leaves
// the file as it was; returns the seconds and, in `written`, the rows.
double BarcodesFloorSeconds(int64_t& written) {
  const std::string c = "Field_" + std::to_string(vtsd::CatalogueUploadState().CoefficientColumn);
  sqlite3* db = nullptr;
  sqlite3_open(vtsd::TempPath("Merxa.db").c_str(), &db);
  written = 0;
  const double seconds = SecondsOf([&] {
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_exec(db, ("CREATE INDEX FloorLookup ON Articule (Field_2," + c + ")").c_str(), nullptr, nullptr, nullptr);
    sqlite3_stmt* packages = nullptr;
    sqlite3_stmt* lookups[2] = {};
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, ("select Articule,Field_2," + c + " From Articule where " + c + " > 1").c_str(), -1,
                       &packages, nullptr);
    sqlite3_prepare_v2(db, ("select Articule From Articule where Field_2=? AND " + c + " = 0").c_str(), -1,
                       &lookups[0], nullptr);
    sqlite3_prepare_v2(db, ("select Articule From Articule where Field_2=? AND " + c + " = 1").c_str(), -1,
                       &lookups[1], nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO Barcodes(Barcode,Articule,Value) VALUES (?,?,?)", -1, &insert, nullptr);
    while (sqlite3_step(packages) == SQLITE_ROW) {
      int bases = 0;
      for (sqlite3_stmt* lookup : lookups) {
        sqlite3_bind_value(lookup, 1, sqlite3_column_value(packages, 1));
        while (bases < 2 && sqlite3_step(lookup) == SQLITE_ROW) {
          if (bases++ == 0) sqlite3_bind_value(insert, 2, sqlite3_column_value(lookup, 0));
        }
        sqlite3_reset(lookup);
        if (bases > 0) break;
      }
      if (bases != 1) continue;
      sqlite3_bind_value(insert, 1, sqlite3_column_value(packages, 0));
      sqlite3_bind_value(insert, 3, sqlite3_column_value(packages, 2));
      sqlite3_step(insert);
      sqlite3_reset(insert);
      ++written;
    }
    for (sqlite3_stmt* stmt : {packages, lookups[0], lookups[1], insert}) sqlite3_finalize(stmt);
    sqlite3_exec(db, "DROP INDEX FloorLookup", nullptr, nullptr, nullptr);
  });
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return seconds;
}

// ---- Local part of a one-call "last" upload -------------------------------------

void BM_LastUploadLocal(benchmark::State& state) {
  UseTempDir();
  const size_t records = 100000;
  const std::string package = Articles(records, 9);
  double import_s = 0, squeeze_s = 0, packages_s = 0, floor_s = 0;
  int64_t barcodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    vtsd::CatalogueUploadState() = vtsd::UploadState{};
    vtsd::CreateCatalogueDatabase();
    std::string copy = package;
    state.ResumeTiming();
    import_s += SecondsOf([&] { vtsd::ImportArticleTable(std::move(copy)); });
    const vtsd::UploadState imported = vtsd::CatalogueUploadState();
    squeeze_s += SecondsOf([] { vtsd::DropEmptyColumns(); });
    if (!vtsd::CatalogueUploadState().PackagesPresent) state.SkipWithError("the table has no packages");
    packages_s += SecondsOf([] { vtsd::FillPackageBarcodes(); });
    state.PauseTiming();
    barcodes = CountRows("Barcodes");
    // The floor of the same work: the import's floor, the squeeze itself
    // (its statements have none below them) and the barcodes' floor.
    int64_t written = 0;
    floor_s += ImportFloorSeconds(package);
    vtsd::CatalogueUploadState() = imported;
    floor_s += SecondsOf([] { vtsd::DropEmptyColumns(); });
    floor_s += BarcodesFloorSeconds(written);
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  vtsd::bench::RecordFigure({"local part of one \"last\" of 100,000 articles, 10% packages",
                             (import_s + squeeze_s + packages_s) / n, floor_s / n,
                             "import floor + the squeeze + barcodes floor", "<= 0.6 s",
                             static_cast<double>(records)});
  state.counters["import_s"] = import_s / n;
  state.counters["squeeze_s"] = squeeze_s / n;
  state.counters["packages_s"] = packages_s / n;
  state.counters["barcodes"] = static_cast<double>(barcodes);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records));
}
BENCHMARK(BM_LastUploadLocal)->Unit(benchmark::kMillisecond)->Iterations(3);

// ---- Package barcodes ---------------------------------------------------------

// The package step with the driver's lookup index.
void BM_PackageBarcodesIndexed(benchmark::State& state) {
  UseTempDir();
  const auto records = static_cast<size_t>(state.range(0));
  PrepareSqueezedCatalogue(Articles(records, 9));
  const int coefficient = vtsd::CatalogueUploadState().CoefficientColumn;
  double barcodes_s = 0;
  for (auto _ : state) {
    state.PauseTiming();
    vtsd::CatalogueUploadState().CoefficientColumn = coefficient;
    state.ResumeTiming();
    barcodes_s += SecondsOf([] { vtsd::FillPackageBarcodes(); });
  }
  state.counters["articles"] = static_cast<double>(records);
  state.counters["barcodes"] = static_cast<double>(CountRows("Barcodes"));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records));
  if (records == 1000000) {
    int64_t written = 0;
    // The floor writes its rows in a transaction it rolls back: it starts
    // from the same file, without the rows just written.
    {
      sqlite3* db = nullptr;
      sqlite3_open(vtsd::TempPath("Merxa.db").c_str(), &db);
      sqlite3_exec(db, "DELETE FROM Barcodes", nullptr, nullptr, nullptr);
      sqlite3_close(db);
    }
    const double floor = BarcodesFloorSeconds(written);
    state.counters["floor_barcodes"] = static_cast<double>(written);
    vtsd::bench::RecordFigure({"package barcodes, 1,000,000 articles, 100,000 packages",
                               state.iterations() > 0 ? barcodes_s / static_cast<double>(state.iterations()) : 0,
                               floor, "the same lookups and insert prepared once, values bound", "<= 1.5 s", 0});
  }
}
BENCHMARK(BM_PackageBarcodesIndexed)->Arg(20000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same statements in one transaction without any lookup index: every
// base lookup scans the whole table.
void BM_PackageBarcodesWithoutIndex(benchmark::State& state) {
  UseTempDir();
  const auto records = static_cast<size_t>(state.range(0));
  PrepareSqueezedCatalogue(Articles(records, 9));
  // Columns of "select *": N, Articule, Field_2 ... so Field_k is column k.
  const int coefficient = vtsd::CatalogueUploadState().CoefficientColumn;
  const std::string c = "Field_" + std::to_string(coefficient);
  int64_t written = 0;
  for (auto _ : state) {
    sqlite3* db = nullptr;
    sqlite3_open(vtsd::TempPath("Merxa.db").c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* packages = nullptr;
    sqlite3_prepare_v2(db, ("select * From Articule where " + c + " > 1").c_str(), -1, &packages, nullptr);
    while (sqlite3_step(packages) == SQLITE_ROW) {
      const std::string name = vtsd::QuoteSqlText(reinterpret_cast<const char*>(sqlite3_column_text(packages, 2)));
      int bases = 0;
      std::string base;
      for (const char* tail : {" = 0", " = 1 "}) {
        sqlite3_stmt* lookup = nullptr;
        sqlite3_prepare_v2(db, ("select * From Articule where Field_2=" + name + " AND " + c + tail).c_str(), -1,
                           &lookup, nullptr);
        while (bases < 2 && sqlite3_step(lookup) == SQLITE_ROW) {
          if (bases++ == 0) base = reinterpret_cast<const char*>(sqlite3_column_text(lookup, 1));
        }
        sqlite3_finalize(lookup);
        if (bases > 0) break;
      }
      if (bases != 1) continue;
      const std::string insert = "INSERT INTO Barcodes(Barcode,Articule,Value) VALUES (" +
                                 vtsd::QuoteSqlText(reinterpret_cast<const char*>(sqlite3_column_text(packages, 1))) +
                                 "," + vtsd::QuoteSqlText(base) + "," +
                                 vtsd::QuoteSqlText(reinterpret_cast<const char*>(sqlite3_column_text(packages, coefficient))) +
                                 ")";
      sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr);
      ++written;
    }
    sqlite3_finalize(packages);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  state.counters["articles"] = static_cast<double>(records);
  state.counters["barcodes"] = static_cast<double>(written);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records));
}
BENCHMARK(BM_PackageBarcodesWithoutIndex)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);

// ---- A whole upload through the simulator ------------------------------------------

// The terminal simulator in a thread of this process, connected with Open.
class SimulatedTerminal {
 public:
  SimulatedTerminal() : root_("terminal") {
    vtsd::platform::SocketOwner probe(vtsd::platform::CreateTcpSocket());
    vtsd::platform::BindIPv4(probe.get(), "127.0.0.1", 0);
    const uint16_t port = vtsd::platform::LocalPort(probe.get());
    probe = vtsd::platform::SocketOwner();
    vtsd::ConnectionSettings().IpAddress = "127.0.0.1";
    vtsd::ConnectionSettings().PortNumber = port;
    vtsd::ConnectionSettings().TimeOut = 10;
    std::string error;
    merxa::ParseOptions({"--port", std::to_string(port), "--root", root_.path().string(), "--connect-timeout", "10",
                         "--max-packet", "65536"},
                        options_, error);
    thread_ = std::thread([this] { merxa::RunSimulator(options_, errors_); });
    Call(0, {vtsd::Value()});
    device_ = last_params_[0].ToInt32();
  }
  ~SimulatedTerminal() {
    Call(1, {vtsd::Value::Int(device_)});
    vtsd::EndConnection();
    if (thread_.joinable()) thread_.join();
  }

  // Runs a driver method; false with the reported text when it failed.
  bool Call(long method, std::vector<vtsd::Value> params, std::string* error = nullptr) {
    struct Params : vtsd::ParamArray {
      std::vector<vtsd::Value>& v;
      explicit Params(std::vector<vtsd::Value>& values) : v(values) {}
      vtsd::Value Read(int i) const override { return i >= 0 && size_t(i) < v.size() ? v[i] : vtsd::Value(); }
      void Write(int i, const vtsd::Value& value) override {
        if (i >= 0 && size_t(i) < v.size()) v[i] = value;
      }
    };
    last_params_ = std::move(params);
    Params array(last_params_);
    vtsd::Value ret;
    vtsd::CallDriverMethod(method, ret, array);
    if (error) *error = vtsd::GetReportedErrorText();
    return ret == vtsd::Value::Int(1);
  }

  int32_t device() const { return device_; }
  vtsd::TerminalSession& session() const { return vtsd::Session(); }

 private:
  ScratchDir root_;
  merxa::Options options_;
  std::ostringstream errors_;
  std::thread thread_;
  std::vector<vtsd::Value> last_params_;
  int32_t device_ = 0;
};

std::vector<std::string> FivePackages() {
  std::vector<std::string> packages;
  for (uint64_t i = 0; i < 5; ++i) packages.push_back(Articles(20000, 9, 1 + 20000 * i));
  return packages;
}

// Five UploadTable calls as 1C makes them: the time of each call.
void BM_UploadFivePackagesThroughSimulator(benchmark::State& state) {
  UseTempDir();
  const std::vector<std::string> packages = FivePackages();
  const char* statuses[] = {"first", "regular", "regular", "regular", "last"};
  SimulatedTerminal terminal;
  double call_s[5] = {};
  for (auto _ : state) {
    for (int i = 0; i < 5; ++i) {
      std::string error;
      bool ok = false;
      call_s[i] += SecondsOf([&] {
        ok = terminal.Call(10, {vtsd::Value::Int(terminal.device()), vtsd::Value::Text(packages[i]),
                                vtsd::Value::Text(statuses[i])},
                           &error);
      });
      if (!ok) state.SkipWithError(error.c_str());
    }
  }
  const double n = static_cast<double>(state.iterations());
  for (int i = 0; i < 5; ++i) state.counters["call" + std::to_string(i + 1) + "_s"] = call_s[i] / n;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 100000));
}
BENCHMARK(BM_UploadFivePackagesThroughSimulator)->Unit(benchmark::kMillisecond)->Iterations(2);

// The same upload stage by stage, as UploadCatalogue runs the stages.
void BM_UploadStagesThroughSimulator(benchmark::State& state) {
  UseTempDir();
  const std::vector<std::string> packages = FivePackages();
  SimulatedTerminal terminal;
  double version_s = 0, create_s = 0, import_s = 0, squeeze_s = 0, packages_s = 0, captions_s = 0, send_s = 0;
  for (auto _ : state) {
    vtsd::CatalogueUploadState() = vtsd::UploadState{};
    version_s += SecondsOf([&] { vtsd::QueryAppVersion(terminal.session()); });
    create_s += SecondsOf([] { vtsd::CreateCatalogueDatabase(); });
    for (const std::string& package : packages) {
      import_s += SecondsOf([&] { vtsd::ImportArticleTable(package); });
    }
    squeeze_s += SecondsOf([] { vtsd::DropEmptyColumns(); });
    packages_s += SecondsOf([] { vtsd::FillPackageBarcodes(); });
    captions_s += SecondsOf([&] { vtsd::SyncFieldCaptions(terminal.session()); });
    send_s += SecondsOf([&] { vtsd::UploadDatabaseFile(terminal.session(), "Merxa.db", vtsd::TerminalLocation{"MerxaDir", "", "Merxa.db"}); });
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["version_s"] = version_s / n;
  state.counters["create_s"] = create_s / n;
  state.counters["import5_s"] = import_s / n;
  state.counters["squeeze_s"] = squeeze_s / n;
  state.counters["packages_s"] = packages_s / n;
  state.counters["captions_s"] = captions_s / n;
  state.counters["send_s"] = send_s / n;
  std::error_code ignored;
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(vtsd::TempPath("Merxa.db"), ignored)) / 1e6;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 100000));
}
BENCHMARK(BM_UploadStagesThroughSimulator)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

VTSD_BENCHMARK_MAIN_WITH_FIGURES()
