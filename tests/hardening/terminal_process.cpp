#include "tests/hardening/terminal_process.hpp"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/support/free_port.hpp"

namespace vtsd::hardening {

namespace fs = std::filesystem;

TerminalProcess::TerminalProcess() {
  char dir[] = "/tmp/vtsd-harden-XXXXXX";
  if (::mkdtemp(dir)) base_ = dir;
  root_ = base_ + "/root";
  log_ = base_ + "/requests.jsonl";
  fs::create_directories(root_);
}

TerminalProcess::~TerminalProcess() {
  Finish(0);
  std::error_code ignored;
  if (!base_.empty()) fs::remove_all(base_, ignored);
}

bool TerminalProcess::Start(uint16_t port, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {MERXA_SIM_EXE, "--port", std::to_string(port), "--root", root_,
                                   "--log", log_, "--connect-timeout", "10", "--idle-timeout", "20"};
  args.insert(args.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    // The child holds none of the parent's descriptors past exec.
    for (int fd = 3; fd < 1024; ++fd) ::close(fd);
    if (quiet_) ::freopen("/dev/null", "w", stderr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid_ > 0;
}

bool TerminalProcess::PrepareRoot(const std::vector<std::string>& extra) {
  std::vector<std::string> options = extra;
  options.insert(options.end(), {"--connect-timeout", "0"});
  // Nobody listens on a fresh port: the simulator ends at its first attempt.
  quiet_ = true;
  const bool prepared = Start(test::FreePort(), options) && Finish(10000) == 1;
  quiet_ = false;
  return prepared;
}

int TerminalProcess::Finish(int timeout_ms) {
  for (int waited = 0; pid_ > 0; waited += 10) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }
    if (waited >= timeout_ms) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

std::vector<std::string> TerminalProcess::Commands() const {
  std::vector<std::string> out;
  std::ifstream in(log_);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    const auto entry = nlohmann::json::parse(line, nullptr, false);
    out.push_back(entry.is_object() ? entry.value("command", std::string("?")) : std::string("?"));
  }
  return out;
}

std::map<std::string, std::string> TerminalProcess::Files() const {
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root_, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (ec) break;
    if (!it->is_regular_file()) continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files[fs::relative(it->path(), root_).string()] = bytes.str();
  }
  return files;
}

int OpenDescriptorCount() {
  int count = 0;
  std::error_code ec;
  for (auto it = fs::directory_iterator("/proc/self/fd", ec); it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    ++count;
  }
  return count - 1;  // the iterator's own descriptor
}

std::vector<std::string> FilesHeldUnder(const std::string& dir) {
  std::vector<std::string> held;
  std::error_code ec;
  for (auto it = fs::directory_iterator("/proc/self/fd", ec); it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::error_code link_error;
    const fs::path target = fs::read_symlink(it->path(), link_error);
    if (link_error) continue;
    const std::string text = target.string();
    if (text.compare(0, dir.size(), dir) == 0) held.push_back(text);
  }
  return held;
}

}  // namespace vtsd::hardening
