// The terminal simulator run in a thread of the test and the driver
// connected to it over loopback through its method frame. The terminal's
// files live under `root`, every request it received is a line of `log`.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "addin/dispatch.hpp"
#include "base/messages.hpp"
#include "base/settings.hpp"
#include "link/connection.hpp"
#include "options.hpp"
#include "simulator.hpp"
#include "tests/support/vector_params.hpp"

namespace vtsd::test {

// The method numbers of the connection.
enum SimTerminalMethod { kSimOpen = 0, kSimClose = 1 };

class SimTerminal {
 public:
  SimTerminal() = default;
  ~SimTerminal() { Stop(); }
  SimTerminal(const SimTerminal&) = delete;
  SimTerminal& operator=(const SimTerminal&) = delete;

  // The terminal's root and request log go under `dir`; the driver is set to
  // listen on a free loopback port and wait ten seconds for the terminal.
  // After Stop, the same terminal is prepared again this way.
  void Prepare(const std::filesystem::path& dir, uint16_t port) {
    root = dir / "terminal";
    log = dir / "requests.log";
    seen_requests_ = 0;  // a simulator started anew writes its log anew
    std::filesystem::create_directories(root);
    ConnectionSettings().IpAddress = "127.0.0.1";
    ConnectionSettings().PortNumber = port;
    ConnectionSettings().TimeOut = 10;
  }

  // Starts the simulator with extra arguments and opens the connection; the
  // connection's own requests are not counted as the test's.
  void Connect(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--port", std::to_string(ConnectionSettings().PortNumber), "--root",
                                     root.string(), "--log", log.string(), "--connect-timeout", "10",
                                     "--idle-timeout", "30"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    ASSERT_TRUE(merxa::ParseOptions(args, options_, error)) << error;
    thread_ = std::thread([this] { merxa::RunSimulator(options_, errors_); });
    VectorParams params({Value()});
    Value ret;
    CallDriverMethod(kSimOpen, ret, params);
    ASSERT_EQ(ret, Value::Int(1)) << GetReportedErrorText();
    device = params.values[0].ToInt32();
    RequestsSoFar();
  }

  // Closes the driver's connection, ends the simulator and clears the
  // connection settings. Safe to call more than once.
  void Stop() {
    if (device != 0) {
      VectorParams params({Value::Int(device)});
      Value ret;
      CallDriverMethod(kSimClose, ret, params);
      device = 0;
    }
    EndConnection();
    if (thread_.joinable()) thread_.join();
    ConnectionSettings() = ConnectionSettingsRecord{};
  }

  struct Result {
    Value ret;
    std::string error;  // the reported text when the call failed
    std::vector<Value> params;
  };
  Result Call(int method, std::vector<Value> params) {
    SetReportedErrorText("");
    VectorParams array(std::move(params));
    Result r;
    CallDriverMethod(method, r.ret, array);
    r.error = GetReportedErrorText();
    r.params = array.values;
    return r;
  }

  // The requests the terminal received since the last look: the command,
  // then the path or key it named. The requests by which the driver reads
  // or writes its identity file are left out (IdentityRequestsSoFar keeps
  // them): the tests of other features look at their own requests.
  std::vector<std::string> RequestsSoFar() { return WithoutIdentityRequests(IdentityRequestsSoFar()); }

  // The identity file's requests: from "ExistFile \VemlarTSD.id" up to
  // the "CloseFile" of the transfer that opened it.
  static std::vector<std::string> WithoutIdentityRequests(const std::vector<std::string>& requests) {
    const std::string exist = "ExistFile \\VemlarTSD.id", open = "OpenFile \\VemlarTSD.id";
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      if (requests[i] != exist) {
        kept.push_back(requests[i]);
        continue;
      }
      bool opened = false;
      for (; i < requests.size(); ++i) {
        opened = opened || requests[i] == open;
        if (opened && requests[i] == "CloseFile") break;
      }
    }
    return kept;
  }

  std::vector<std::string> IdentityRequestsSoFar() {
    std::vector<std::string> names;
    std::ifstream in(log);
    std::string line;
    std::size_t n = 0;
    while (std::getline(in, line)) {
      if (n++ < seen_requests_) continue;
      const auto entry = nlohmann::json::parse(line);
      std::string name = entry.value("command", std::string("?"));
      for (const char* field : {"path", "key"}) {
        if (entry.contains(field) && entry[field].is_string()) name += " " + entry[field].get<std::string>();
      }
      names.push_back(name);
    }
    seen_requests_ = n;
    return names;
  }

  std::filesystem::path root, log;
  int32_t device = 0;

 private:
  merxa::Options options_;
  std::thread thread_;
  std::ostringstream errors_;
  std::size_t seen_requests_ = 0;
};

}  // namespace vtsd::test
