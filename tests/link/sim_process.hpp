// The terminal simulator program run as a child process for the loopback
// integration tests, with its own scratch root and request log.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace vtsd::testing {

class SimProcess {
 public:
  SimProcess() {
    char dir[] = "/tmp/vtsd-sim-XXXXXX";
    if (::mkdtemp(dir)) base_ = dir;
    root = base_ + "/root";
    log = base_ + "/requests.jsonl";
  }
  ~SimProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (!base_.empty()) std::system(("rm -rf '" + base_ + "'").c_str());
  }

  // Starts the simulator for the driver's port with extra options.
  bool Start(uint16_t port, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {MERXA_SIM_EXE, "--port", std::to_string(port), "--root", root,
                                     "--log", log, "--connect-timeout", "10"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(&a[0]);
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return pid_ > 0;
  }

  // The exit status, or -1 when it has not ended within timeout_ms.
  int Wait(int timeout_ms) {
    for (int waited = 0; pid_ > 0 && waited <= timeout_ms; waited += 10) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

  std::vector<nlohmann::json> Requests() const {
    std::vector<nlohmann::json> out;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) out.push_back(nlohmann::json::parse(line));
    return out;
  }
  std::vector<std::string> Commands() const {
    std::vector<std::string> out;
    for (const auto& r : Requests()) out.push_back(r.value("command", std::string("?")));
    return out;
  }

  std::string root;
  std::string log;

 private:
  std::string base_;
  pid_t pid_ = -1;
};

}  // namespace vtsd::testing
