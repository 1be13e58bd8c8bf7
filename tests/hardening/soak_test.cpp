// Repeated use in one process, as a 1C session that exchanges all day does
// it: Open, DeviceTest and Close against a terminal that connects anew each
// time, and catalogue uploads one after another. Open descriptors must be the
// same at the end as after the first tenth of the cycles; resident memory is
// printed for both points and, outside AddressSanitizer builds (whose
// quarantine holds freed memory on purpose), may grow by a few MiB at most.
// VTSD_SOAK_CYCLES, VTSD_SOAK_UPLOADS and VTSD_SOAK_ARTICLES make the long
// soak of "./run.sh soak"; the defaults keep the test run short.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "addin/dispatch.hpp"
#include "base/messages.hpp"
#include "addin/names.hpp"
#include "base/settings.hpp"
#include "base/temp_dir.hpp"
#include "article_generator.hpp"
#include "catalogue/upload_state.hpp"
#include "link/connection.hpp"
#include "platform/dialogs.hpp"
#include "tests/hardening/terminal_process.hpp"
#include "tests/support/free_port.hpp"
#include "tests/support/vector_params.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define VTSD_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VTSD_UNDER_ASAN 1
#endif
#endif

namespace vtsd {
namespace {

namespace fs = std::filesystem;

int EnvCount(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

class PressingDialogs : public platform::DialogProvider {
 public:
  platform::BoxAnswer ShowMessageBox(const platform::MessageBoxRequest&, platform::BoxCloser*) override {
    return platform::BoxAnswer::Ok;
  }
  platform::SelectionWindowEvent WaitSelectionWindow(const platform::SelectionWindowRequest&) override {
    return {};
  }
};

struct Sample {
  int descriptors;
  long resident_kib;
};
Sample Now() { return {hardening::OpenDescriptorCount(), ResidentKiB()}; }

class Soak : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMessageLanguage(Language::English);
    char dir[] = "/tmp/vtsd-soak-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    temp_ = std::string(dir) + "/";
    previous_temp_ = TempDir();
    SetTempDir(temp_);
    platform::InstallDialogProvider(&dialogs_);
    ConnectionSettings().IpAddress = "127.0.0.1";
    ConnectionSettings().PortNumber = test::FreePort();
    ConnectionSettings().TimeOut = 10;
    CatalogueUploadState() = UploadState{};
  }
  void TearDown() override {
    EndConnection();
    platform::InstallDialogProvider(nullptr);
    SetTempDir(previous_temp_);
    ConnectionSettings() = ConnectionSettingsRecord{};
    std::error_code ignored;
    fs::remove_all(temp_, ignored);
  }

  Value Call(int method, std::vector<Value>& params) {
    test::VectorParams array(params);
    Value ret;
    SetReportedErrorText("");
    CallDriverMethod(method, ret, array);
    params = array.values;
    return ret;
  }

  void Report(const char* what, int count, const Sample& tenth, const Sample& end) {
    std::printf("soak %-40s %6d: descriptors %d -> %d, resident %ld KiB -> %ld KiB\n", what, count,
                tenth.descriptors, end.descriptors, tenth.resident_kib, end.resident_kib);
    EXPECT_EQ(end.descriptors, tenth.descriptors) << what;
#ifndef VTSD_UNDER_ASAN
    EXPECT_LE(end.resident_kib - tenth.resident_kib, 8 * 1024) << what;
#endif
  }

  PressingDialogs dialogs_;
  std::string temp_, previous_temp_;
};

TEST_F(Soak, OpenDeviceTestCloseCycles) {
  const int cycles = EnvCount("VTSD_SOAK_CYCLES", 60);
  hardening::TerminalProcess terminal;
  // A terminal that connects again at once may land in the backlog of the
  // listening socket that Close is closing: it has connections to spare, and
  // gives up a connection on which no request comes for two seconds.
  ASSERT_TRUE(terminal.Start(ConnectionSettings().PortNumber,
                             {"--reconnect", std::to_string(3 * cycles), "--idle-timeout", "2"}));
  Sample tenth{};
  for (int i = 1; i <= cycles; ++i) {
    std::vector<Value> open = {Value()};
    ASSERT_EQ(Call(kOpen, open), Value::Int(1)) << "cycle " << i << ": " << GetReportedErrorText();
    std::vector<Value> test = {Value(), Value()};
    ASSERT_EQ(Call(kDeviceTest, test), Value::Int(1)) << "cycle " << i << ": " << GetReportedErrorText();
    std::vector<Value> close = {open[0]};
    ASSERT_EQ(Call(kClose, close), Value::Int(1)) << "cycle " << i << ": " << GetReportedErrorText();
    if (i == cycles / 10) tenth = Now();
  }
  Report("Open/DeviceTest/Close cycles", cycles, tenth, Now());
}

TEST_F(Soak, RepeatedCatalogueUploads) {
  const int uploads = EnvCount("VTSD_SOAK_UPLOADS", 10);
  bench::ArticleTableOptions options;
  options.records = static_cast<size_t>(EnvCount("VTSD_SOAK_ARTICLES", 1000));
  const std::string table = bench::GenerateArticleTable(options);

  hardening::TerminalProcess terminal;
  ASSERT_TRUE(terminal.Start(ConnectionSettings().PortNumber, {}));
  std::vector<Value> open = {Value()};
  ASSERT_EQ(Call(kOpen, open), Value::Int(1)) << GetReportedErrorText();
  Sample tenth{};
  for (int i = 1; i <= uploads; ++i) {
    std::vector<Value> upload = {open[0], Value::Text(table), Value::Text("last")};
    ASSERT_EQ(Call(kUploadTable, upload), Value::Int(1)) << "upload " << i << ": " << GetReportedErrorText();
    if (i == std::max(1, uploads / 10)) tenth = Now();
  }
  Report(("uploads of " + std::to_string(options.records) + " articles").c_str(), uploads, tenth, Now());
  std::vector<Value> close = {open[0]};
  EXPECT_EQ(Call(kClose, close), Value::Int(1)) << GetReportedErrorText();
  EXPECT_EQ(terminal.Finish(10000), 0);
}

}  // namespace
}  // namespace vtsd
