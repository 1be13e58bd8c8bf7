#include "tests/hardening/terminal_process.hpp"

#include "link/terminal_id.hpp"

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
#include <sqlite3.h>

#include <algorithm>
#include <regex>
#include <vector>

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

namespace {

// The tables and rows of a database file, or "" when it is none.
std::string DatabaseText(const fs::path& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return "";
  }
  const std::regex task_key("0000[0-9]{4,}");
  auto rows = [db](const std::string& sql, std::vector<std::string> skip_columns) {
    std::vector<std::string> out;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
      out.push_back(std::string("unreadable: ") + sqlite3_errmsg(db));
      return out;
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::string line;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const std::string column = sqlite3_column_name(st, i);
        if (std::find(skip_columns.begin(), skip_columns.end(), column) != skip_columns.end()) continue;
        const unsigned char* text = sqlite3_column_text(st, i);
        line += column + "=" + std::to_string(sqlite3_column_type(st, i)) + ":" +
                (text ? reinterpret_cast<const char*>(text) : "") + "|";
      }
      out.push_back(line);
    }
    if (rc != SQLITE_DONE) out.push_back(std::string("unreadable: ") + sqlite3_errmsg(db));
    sqlite3_finalize(st);
    return out;
  };
  std::vector<std::string> tables;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name", -1, &st,
                         nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW)
      tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  }
  sqlite3_finalize(st);
  std::string text = "database\n";
  for (const std::string& name : tables) {
    std::vector<std::string> lines =
        rows("SELECT * FROM \"" + name + "\"",
             name == "Registry" ? std::vector<std::string>{"Date", "RealName"} : std::vector<std::string>{});
    std::sort(lines.begin(), lines.end());
    text += "table " + name + "\n";
    for (const std::string& line : lines) text += "  " + line + "\n";
  }
  sqlite3_close(db);
  return std::regex_replace(text, task_key, "<task>");
}

}  // namespace

std::map<std::string, std::string> TerminalProcess::Contents() const {
  std::map<std::string, std::string> contents = Files();
  for (auto& [name, bytes] : contents) {
    // The identity file holds 128 random bits of this terminal's own: two
    // runs agree on its form, never on its digits.
    std::string id;
    if (name == "VemlarTSD.id" && ParseTerminalId(bytes, id)) {
      bytes = "<an identifier>";
      continue;
    }
    if (bytes.rfind("SQLite format 3", 0) != 0) continue;
    const std::string text = DatabaseText(fs::path(root_) / name);
    if (!text.empty()) bytes = text;
  }
  return contents;
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
