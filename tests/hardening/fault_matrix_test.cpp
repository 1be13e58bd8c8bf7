// The terminal methods against a simulated terminal that fails at every
// request of the method's exchange: the connection closed, the terminal
// stalled, a reply that is no frame, a reply that comes after the exchange
// limit, or a request answered 0 without being done (a full storage, an
// empty file). Every run must end in a failure the host can read (return
// value 0, a coded message; a 0 the driver can take in its stride may also
// end in success), release every descriptor and local file it took, and
// leave the terminal's files as they were when the method had not yet
// started writing them. Then the same component goes on as a configuration
// does after a failure: Close, Open, and the same call again on the terminal,
// which is healthy now. That call must succeed and leave the terminal's files
// holding exactly what one clean run gives, compared by their content.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "addin/dispatch.hpp"
#include "base/messages.hpp"
#include "addin/names.hpp"
#include "base/settings.hpp"
#include "base/temp_dir.hpp"
#include "catalogue/upload_state.hpp"
#include "link/connection.hpp"
#include "link/framing.hpp"
#include "platform/dialogs.hpp"
#include "platform/socket.hpp"
#include "selection/selection_window.hpp"
#include "tests/hardening/terminal_process.hpp"
#include "tests/support/free_port.hpp"
#include "tests/support/vector_params.hpp"

namespace vtsd {
namespace {

namespace fs = std::filesystem;
using hardening::TerminalProcess;

// The user of these runs: every box is answered with its first button, the
// selection window returns its first entry.
class AgreeingDialogs : public platform::DialogProvider {
 public:
  platform::BoxAnswer ShowMessageBox(const platform::MessageBoxRequest& request, platform::BoxCloser*) override {
    return request.kind == platform::BoxKind::Info ? platform::BoxAnswer::Ok : platform::BoxAnswer::Yes;
  }
  platform::SelectionWindowEvent WaitSelectionWindow(const platform::SelectionWindowRequest&) override {
    platform::SelectionWindowEvent e;
    e.kind = platform::SelectionWindowEvent::Ok;
    e.selected = {0};
    return e;
  }
};

struct CallOutcome {
  Value ret;
  std::string error;
  std::vector<Value> params;  // the parameters after the call
};

CallOutcome Call(int method, std::vector<Value> params) {
  SetReportedErrorText("");
  test::VectorParams array(std::move(params));
  CallOutcome out;
  CallDriverMethod(method, out.ret, array);
  out.error = GetReportedErrorText();
  out.params = array.values;
  if (method == kOpen && out.ret == Value::Int(1)) out.error = array.values[0].ToText();
  return out;
}

bool Coded(const CallOutcome& r) { return r.error.size() > 1 && CodeOfMark(r.error) >= 0; }

const char kCatalogue[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Table>\r\n"
    "<Record Articule=\"4601\" Name=\"Tea\" Unit=\"pcs\" Price=\"10.50\"/>\r\n"
    "<Record Articule=\"4602\" Name=\"Coffee\" Unit=\"pcs\" Price=\"7\"/>\r\n"
    "</Table>";
const char kTask[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Table PodborName=\"Picking 7\">\r\n"
    "<Record Articule=\"4601\" Quantity=\"3\"/>\r\n"
    "<Record Articule=\"4602\" Quantity=\"1.5\"/>\r\n</Table>";
const char kDocuments[] =
    R"({"documents": [{"name": "Order A", "key": "A1", "lines": [["100", "1"], ["101", "2"]]}]})";

struct Operation {
  const char* name;
  int method;
  bool opens_first;  // the method needs a connection the host opened
  std::vector<std::string> terminal_options;
  std::function<std::vector<Value>(int32_t device)> params;
  // Calls made on the healthy terminal before the method; true when they
  // succeeded. A method that follows such calls is repeated only after it
  // failed: repeated after a success it would be another call of its own.
  std::function<bool(int32_t device)> before = nullptr;
};

// The packages "first" and "regular" of a three-package upload whose "last"
// is the operation's own call.
const char kFirstPackage[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Table>\r\n"
    "<Record Articule=\"4501\" Name=\"Milk\" Unit=\"pcs\" Price=\"1.10\" Coefficient=\"0\"/>\r\n"
    "<Record Articule=\"4501-6\" Name=\"Milk\" Unit=\"box\" Price=\"6.60\" Coefficient=\"6\"/>\r\n"
    "</Table>";
const char kRegularPackage[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Table>\r\n"
    "<Record Articule=\"4502\" Name=\"Bread\" Unit=\"pcs\" Price=\"2\" Coefficient=\"0\"/>\r\n"
    "</Table>";

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"DeviceTest", kDeviceTest, false, {}, [](int32_t) { return std::vector<Value>{Value(), Value()}; }},
      {"Close", kClose, true, {}, [](int32_t d) { return std::vector<Value>{Value::Int(d)}; }},
      {"UploadTable", kUploadTable, true, {},
       [](int32_t d) { return std::vector<Value>{Value::Int(d), Value::Text(kCatalogue), Value::Text("last")}; }},
      {"UploadTable 3 packages", kUploadTable, true, {},
       [](int32_t d) { return std::vector<Value>{Value::Int(d), Value::Text(kCatalogue), Value::Text("last")}; },
       [](int32_t d) {
         return Call(kUploadTable, {Value::Int(d), Value::Text(kFirstPackage), Value::Text("first")}).ret ==
                    Value::Int(1) &&
                Call(kUploadTable, {Value::Int(d), Value::Text(kRegularPackage), Value::Text("regular")}).ret ==
                    Value::Int(1);
       }},
      {"ClearTable", kClearTable, true, {}, [](int32_t d) { return std::vector<Value>{Value::Int(d)}; }},
      {"UnloadTaskForSelection", kUnloadTaskForSelection, true, {},
       [](int32_t d) { return std::vector<Value>{Value::Int(d), Value::Text(kTask)}; }},
      {"DownloadTable", kDownloadTable, true, {"--documents", kDocuments},
       [](int32_t d) { return std::vector<Value>{Value::Int(d), Value()}; }},
  };
  return ops;
}

enum class Fault { None, Close, Stall, Garbage, Late, Zero };
const char* FaultName(Fault f) {
  switch (f) {
    case Fault::None: return "none";
    case Fault::Close: return "close";
    case Fault::Stall: return "stall";
    case Fault::Garbage: return "garbage";
    case Fault::Late: return "late";
    case Fault::Zero: return "zero";
  }
  return "?";
}

// A call made on two terminals in turn: `seed` runs on A first, so that A
// holds files of its own that B never had.
struct TwoTerminalCall {
  const char* name;
  int method;
  std::function<std::vector<Value>(int32_t device)> params;
  std::function<void(int32_t device)> seed;
};

const char kEveningTask[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Table PodborName=\"Evening\">\r\n"
    "<Record Articule=\"4609\" Quantity=\"2\"/>\r\n</Table>";

const std::vector<TwoTerminalCall>& TwoTerminalCalls() {
  static const std::vector<TwoTerminalCall> calls = {
      // The task file: A holds the task "Evening", B has no task file.
      {"UnloadTaskForSelection", kUnloadTaskForSelection,
       [](int32_t d) { return std::vector<Value>{Value::Int(d), Value::Text(kTask)}; },
       [](int32_t d) { Call(kUnloadTaskForSelection, {Value::Int(d), Value::Text(kEveningTask)}); }},
      // The settings file (A has one, B none) and the upload in progress:
      // A's "first" and "regular" wait for A's "last"; B's "last" is an
      // upload of its own.
      {"UploadTable 3 packages", kUploadTable,
       [](int32_t d) { return std::vector<Value>{Value::Int(d), Value::Text(kCatalogue), Value::Text("last")}; },
       [](int32_t d) {
         Call(kUploadTable, {Value::Int(d), Value::Text(kFirstPackage), Value::Text("first")});
         Call(kUploadTable, {Value::Int(d), Value::Text(kRegularPackage), Value::Text("regular")});
       }},
  };
  return calls;
}

// The exchange limit of these runs, and how late a late reply comes.
constexpr int kExchangeLimitMs = 400;
constexpr int kLateMs = 900;

bool IsWrite(const std::string& command) {
  return command == "CreateFile" || command == "DeleteFile" || command == "WriteFile";
}

// What one run showed.
struct RunReport {
  std::vector<std::string> problems;
  size_t requests_before = 0;                   // the terminal's requests before the method's own
  std::vector<std::string> method_commands;  // the requests the method itself made
  std::map<std::string, std::string> contents;  // the terminal's files after the run
  std::map<std::string, std::string> first;     // ... after the first call and Close
  Value output;                                 // what the repeated call handed back
};

class FaultMatrix : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { table_.clear(); }
  static void TearDownTestSuite() {
    std::ostringstream out;
    out << "\nfault matrix\n";
    char line[160];
    std::snprintf(line, sizeof line, "%-24s %-8s %13s %13s\n", "operation", "fault", "points tried",
                  "points held");
    out << line;
    for (const auto& row : table_) {
      std::snprintf(line, sizeof line, "%-24s %-8s %13d %13d\n", row.operation.c_str(), row.fault.c_str(),
                    row.tried, row.held);
      out << line;
    }
    std::fputs(out.str().c_str(), stdout);
  }

  void SetUp() override {
    SetMessageLanguage(Language::English);
    char dir[] = "/tmp/vtsd-harden-temp-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    temp_ = std::string(dir) + "/";
    previous_temp_ = TempDir();
    SetTempDir(temp_);
    previous_limit_ = ExchangeTimeLimitMs();
    // A stalled terminal is given up after this long.
    SetExchangeTimeLimitMs(kExchangeLimitMs);
    platform::InstallDialogProvider(&dialogs_);
  }
  void TearDown() override {
    EndConnection();
    platform::InstallDialogProvider(nullptr);
    SetExchangeTimeLimitMs(previous_limit_);
    SetTempDir(previous_temp_);
    ConnectionSettings() = ConnectionSettingsRecord{};
    std::error_code ignored;
    fs::remove_all(temp_, ignored);
  }

  // One run of `op` with the terminal failing as `fault` at its request `at`
  // (counted from the terminal's first request), then the host's retry.
  RunReport RunOnce(const Operation& op, Fault fault, size_t at) {
    RunReport run;
    auto problem = [&run](const std::string& what) { run.problems.push_back(what); };
    ResetDriverState();
    SelectionWindowState().isCancelled = false;
    ConnectionSettings().IpAddress = "127.0.0.1";
    ConnectionSettings().PortNumber = test::FreePort();
    ConnectionSettings().TimeOut = 10;
    ConnectionSettings().ChooseDownloadSource = false;

    std::vector<std::string> options = op.terminal_options;
    // The fault happens once; the connections after it are healthy.
    options.insert(options.end(), {"--reconnect", "4"});
    const std::string k = std::to_string(at);
    if (fault == Fault::Close) options.insert(options.end(), {"--close-at", k});
    if (fault == Fault::Stall) options.insert(options.end(), {"--stall-at", k});
    if (fault == Fault::Garbage) options.insert(options.end(), {"--garbage-at", k});
    if (fault == Fault::Late) options.insert(options.end(), {"--late-at", k, "--late-ms", std::to_string(kLateMs)});
    if (fault == Fault::Zero) options.insert(options.end(), {"--zero-at", k});

    const int fds_before = hardening::OpenDescriptorCount();
    TerminalProcess terminal;
    if (!terminal.PrepareRoot(op.terminal_options)) {
      problem("the simulator did not prepare its root");
      return run;
    }
    const auto prepared_files = terminal.Files();
    if (!terminal.Start(ConnectionSettings().PortNumber, options)) {
      problem("the simulator did not start");
      return run;
    }
    int32_t device = 0;
    if (op.opens_first) {
      const CallOutcome opened = Call(kOpen, {Value()});
      if (opened.ret != Value::Int(1)) {
        problem("Open failed: " + opened.error);
        return run;
      }
      device = DeviceId();
    }
    if (op.before && !op.before(device)) {
      problem("the calls before the method failed");
      return run;
    }
    const size_t requests_before = terminal.Commands().size();
    run.requests_before = requests_before;
    // The simulator writes its order documents anew when it starts; once it
    // has connected, nothing but the driver changes the files.
    const auto files_before = op.opens_first ? terminal.Files() : prepared_files;

    const CallOutcome result = Call(op.method, op.params(device));
    const std::vector<std::string> commands = terminal.Commands();
    run.method_commands.assign(commands.begin() + std::min(requests_before, commands.size()), commands.end());

    if (fault == Fault::None) {
      if (result.ret != Value::Int(1)) problem("failed without a fault: " + result.error);
    } else if (fault == Fault::Zero && result.ret == Value::Int(1)) {
      // A 0 the driver can take in its stride ("no such file", a refused
      // delete written over); the files are compared below all the same.
    } else {
      if (result.ret != Value::Int(0)) problem("returned " + result.ret.ToText() + " over a broken exchange");
      if (!Coded(result)) problem("no coded message: '" + result.error + "'");
    }
    for (const std::string& held : hardening::FilesHeldUnder(temp_)) problem("local file left open: " + held);

    // The method had not yet written on the terminal: its files are as before.
    const size_t first_write =
        std::find_if(run.method_commands.begin(), run.method_commands.end(), IsWrite) - run.method_commands.begin();
    if (fault != Fault::None && result.ret != Value::Int(1) && at - requests_before <= first_write &&
        terminal.Files() != files_before) {
      problem("the terminal's files changed before the method's first write");
    }

    // The host closes what is still open: a broken session ends at once, a
    // working one says "Disconnect" to the terminal, healthy again.
    if (DeviceId() != 0) {
      const CallOutcome closed = Call(kClose, {Value::Int(DeviceId())});
      if (closed.ret != Value::Int(1)) problem("Close after the fault failed: " + closed.error);
    }
    if (DeviceId() != 0 || ListenerExists() || platform::SocketLibraryUses() != 0)
      problem("the session is not ended after Close");
    if (hardening::OpenDescriptorCount() != fds_before) {
      problem("descriptors: " + std::to_string(fds_before) + " before, " +
              std::to_string(hardening::OpenDescriptorCount()) + " after Close");
    }

    run.first = terminal.Contents();
    if (op.before && result.ret == Value::Int(1)) {
      if (result.params.size() > 1) run.output = result.params[1];
      terminal.Finish(0);
      run.contents = terminal.Contents();
      EndConnection();
      return run;
    }

    // The same call again on the same component, as a configuration retries.
    int32_t again = 0;
    if (op.opens_first) {
      const CallOutcome reopened = Call(kOpen, {Value()});
      if (reopened.ret != Value::Int(1)) {
        problem("Open for the retry failed: " + reopened.error);
        EndConnection();
        terminal.Finish(0);
        return run;
      }
      again = DeviceId();
    }
    const CallOutcome retried = Call(op.method, op.params(again));
    if (retried.ret != Value::Int(1)) problem("the retry failed: " + retried.error);
    if (retried.params.size() > 1) run.output = retried.params[op.method == kDeviceTest ? 0 : 1];
    if (op.method != kClose && DeviceId() != 0) {
      const CallOutcome closed = Call(kClose, {Value::Int(DeviceId())});
      if (closed.ret != Value::Int(1)) problem("Close after the retry failed: " + closed.error);
    }
    // The terminal has answered "Disconnect": its files are complete.
    terminal.Finish(0);
    run.contents = terminal.Contents();
    EndConnection();
    if (hardening::OpenDescriptorCount() != fds_before) problem("descriptors changed after the retry");
    return run;
  }

  // Each run starts from a driver that has seen no terminal.
  void ResetDriverState() {
    CatalogueUploadState() = UploadState{};
    ActiveUploadTerminal().clear();
    WaitingUploads().clear();
    SelectionWindowState().isCancelled = false;
    for (const auto& entry : fs::directory_iterator(temp_)) fs::remove_all(entry.path());
  }

  // ---- Two terminals on one driver ------------------------------------------

  // One connection to a terminal: Open, the calls, Close; the terminal then
  // ends (killed when `kill`, as a stalled one must be).
  struct Visit {
    Value ret;
    std::string error;
    std::map<std::string, std::string> contents;
  };
  Visit VisitTerminal(TerminalProcess& terminal, const std::vector<std::string>& options,
                      const std::function<void(int32_t)>& before, const TwoTerminalCall& call, bool kill,
                      size_t* requests_before = nullptr) {
    Visit visit;
    ConnectionSettings().PortNumber = test::FreePort();
    if (!terminal.Start(ConnectionSettings().PortNumber, options)) {
      visit.error = "the simulator did not start";
      return visit;
    }
    const CallOutcome opened = Call(kOpen, {Value()});
    if (opened.ret != Value::Int(1)) {
      visit.error = "Open failed: " + opened.error;
      terminal.Finish(0);
      return visit;
    }
    if (before) before(DeviceId());
    if (requests_before != nullptr) *requests_before = terminal.Commands().size();
    const CallOutcome result = Call(call.method, call.params(DeviceId()));
    visit.ret = result.ret;
    visit.error = result.error;
    if (DeviceId() != 0) Call(kClose, {Value::Int(DeviceId())});
    EndConnection();
    terminal.Finish(kill ? 0 : 5000);
    visit.contents = terminal.Contents();
    return visit;
  }

  // Terminal A fails as `fault` at its request `at` of the call (A already
  // holds what `seed` gave it), then terminal B, which never had the call's
  // file, makes the same call, then A makes it again. B must end as a clean
  // run on B alone does; A must end as a clean run on A alone does.
  std::vector<std::string> RunTwoTerminals(const TwoTerminalCall& call, Fault fault, size_t at,
                                           const Visit& clean_a, const Visit& clean_b) {
    std::vector<std::string> problems;
    ResetDriverState();
    ConnectionSettings().IpAddress = "127.0.0.1";
    ConnectionSettings().TimeOut = 10;
    TerminalProcess a, b;
    if (!a.PrepareRoot({}) || !b.PrepareRoot({"--no-setup"})) return {"the simulators did not prepare their roots"};
    std::vector<std::string> faulted;
    const std::string k = std::to_string(at);
    if (fault == Fault::Close) faulted = {"--close-at", k};
    if (fault == Fault::Stall) faulted = {"--stall-at", k};
    if (fault == Fault::Garbage) faulted = {"--garbage-at", k};
    if (fault == Fault::Late) faulted = {"--late-at", k, "--late-ms", std::to_string(kLateMs)};
    if (fault == Fault::Zero) faulted = {"--zero-at", k};
    const Visit first = VisitTerminal(a, faulted, call.seed, call, fault == Fault::Stall);
    if (first.ret != Value::Int(1) && (first.error.size() < 2 || CodeOfMark(first.error) < 0))
      problems.push_back("A's failing call gave no coded message: '" + first.error + "'");
    const Visit on_b = VisitTerminal(b, {}, nullptr, call, false);
    if (on_b.ret != clean_b.ret) problems.push_back("B's call returned " + on_b.ret.ToText() + ": " + on_b.error);
    if (on_b.contents != clean_b.contents) problems.push_back("B's files differ from a clean run on B alone");
    // A call that took a 0 in its stride is done: a configuration does not
    // repeat it (repeated, a "last" would be an upload of its own).
    Visit again = first;
    if (first.ret != Value::Int(1)) {
      again = VisitTerminal(a, {}, nullptr, call, false);
      if (again.ret != Value::Int(1)) problems.push_back("A's repeat failed: " + again.error);
    }
    if (again.contents != clean_a.contents) {
      for (const auto& [name, content] : clean_a.contents) {
        auto it = again.contents.find(name);
        if (it == again.contents.end() || it->second != content)
          problems.push_back("after A's repeat " + name + " differs from a clean run on A:\n" +
                             (it == again.contents.end() ? std::string("(none)") : it->second) + "\n  clean:\n" + content);
      }
      if (again.contents.size() != clean_a.contents.size()) problems.push_back("A holds other files than a clean run");
    }
    return problems;
  }

  void RunTwoTerminalMatrix(const TwoTerminalCall& call, size_t every) {
    ConnectionSettings().IpAddress = "127.0.0.1";
    ConnectionSettings().TimeOut = 10;
    ResetDriverState();
    Visit clean_a, clean_b;
    size_t requests_before = 0;
    std::vector<std::string> commands;
    {
      TerminalProcess a;
      ASSERT_TRUE(a.PrepareRoot({}));
      clean_a = VisitTerminal(a, {}, call.seed, call, false, &requests_before);
      ASSERT_EQ(clean_a.ret, Value::Int(1)) << call.name << " on A alone: " << clean_a.error;
      commands = a.Commands();
    }
    ResetDriverState();
    {
      TerminalProcess b;
      ASSERT_TRUE(b.PrepareRoot({"--no-setup"}));
      clean_b = VisitTerminal(b, {}, nullptr, call, false);
    }
    const size_t n = commands.size() - requests_before - 1;  // without the Disconnect
    ASSERT_GT(n, 0u);
    for (Fault fault : {Fault::Close, Fault::Stall, Fault::Garbage, Fault::Late, Fault::Zero}) {
      Row row{std::string(call.name) + " A/B/A", FaultName(fault), 0, 0};
      for (size_t k = 1; k <= n; k += every) {
        const std::vector<std::string> problems =
            RunTwoTerminals(call, fault, requests_before + k, clean_a, clean_b);
        ++row.tried;
        if (problems.empty()) {
          ++row.held;
          continue;
        }
        std::string all;
        for (const auto& p : problems) all += "\n  " + p;
        ADD_FAILURE() << call.name << " A/B/A, " << FaultName(fault) << " at request " << k << " ("
                      << commands[requests_before + k - 1] << "):" << all;
      }
      table_.push_back(row);
    }
  }

  void RunMatrix(const Operation& op) {
    const RunReport clean = RunOnce(op, Fault::None, 0);
    ASSERT_TRUE(clean.problems.empty()) << op.name << ": " << clean.problems.front();
    // Calling twice leaves what calling once leaves: the state after one
    // clean call is the one every retry must reach.
    ASSERT_EQ(clean.first, clean.contents) << op.name << " is not the same when repeated";
    const size_t n = clean.method_commands.size();
    ASSERT_GT(n, 0u) << op.name << " made no request";
    for (Fault fault : {Fault::Close, Fault::Stall, Fault::Garbage, Fault::Late, Fault::Zero}) {
      Row row{op.name, FaultName(fault), 0, 0};
      for (size_t k = 1; k <= n; ++k) {
        RunReport run = RunOnce(op, fault, clean.requests_before + k);
        for (const auto& [name, content] : clean.contents) {
          auto it = run.contents.find(name);
          if (it == run.contents.end())
            run.problems.push_back("after the retry the terminal has no " + name);
          else if (it->second != content)
            run.problems.push_back("after the retry " + name + " differs from a clean run's:\n" + it->second +
                                   "\n  a clean run's:\n" + content);
        }
        for (const auto& entry : run.contents) {
          if (!clean.contents.count(entry.first))
            run.problems.push_back("after the retry the terminal has " + entry.first + " too");
        }
        if (!(run.output == clean.output)) run.problems.push_back("the retry handed back something else");
        ++row.tried;
        if (run.problems.empty()) {
          ++row.held;
          continue;
        }
        std::string all;
        for (const auto& p : run.problems) all += "\n  " + p;
        ADD_FAILURE() << op.name << ", " << FaultName(fault) << " at request " << k << " ("
                      << clean.method_commands[k - 1] << "):" << all;
      }
      table_.push_back(row);
    }
  }

  struct Row {
    std::string operation, fault;
    int tried, held;
  };
  static std::vector<Row> table_;

  AgreeingDialogs dialogs_;
  std::string temp_, previous_temp_;
  int previous_limit_ = 0;
};

std::vector<FaultMatrix::Row> FaultMatrix::table_;

TEST_F(FaultMatrix, DeviceTest) { RunMatrix(Operations()[0]); }
TEST_F(FaultMatrix, Close) { RunMatrix(Operations()[1]); }
TEST_F(FaultMatrix, UploadTableLast) { RunMatrix(Operations()[2]); }
TEST_F(FaultMatrix, UploadTableLastOfThreePackages) { RunMatrix(Operations()[3]); }
TEST_F(FaultMatrix, ClearTable) { RunMatrix(Operations()[4]); }
TEST_F(FaultMatrix, UnloadTaskForSelection) { RunMatrix(Operations()[5]); }
TEST_F(FaultMatrix, DownloadTable) { RunMatrix(Operations()[6]); }
// A failed send is made good on its own terminal only, and an upload goes on
// on the terminal it began on.
TEST_F(FaultMatrix, TaskFileOnTwoTerminals) { RunTwoTerminalMatrix(TwoTerminalCalls()[0], 1); }
TEST_F(FaultMatrix, UploadOnTwoTerminals) { RunTwoTerminalMatrix(TwoTerminalCalls()[1], 2); }

}  // namespace
}  // namespace vtsd
