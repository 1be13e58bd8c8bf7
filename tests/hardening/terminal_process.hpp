// The terminal simulator as a child process with a scratch root of its own,
// the process-side checks of the hardening tests (the driver's open file
// descriptors, the local files it still holds, the terminal's files).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vtsd::hardening {

class TerminalProcess {
 public:
  TerminalProcess();
  ~TerminalProcess();
  TerminalProcess(const TerminalProcess&) = delete;
  TerminalProcess& operator=(const TerminalProcess&) = delete;

  // Starts the simulator for the driver's port; `extra` are further options.
  bool Start(uint16_t port, const std::vector<std::string>& extra);
  // Lets the simulator make its root (directories, settings file) and end
  // without connecting, so that the root is complete before a test looks.
  bool PrepareRoot(const std::vector<std::string>& extra);
  // The exit status, or -1 when it has not ended within timeout_ms (then it
  // is killed).
  int Finish(int timeout_ms);

  // The request log: one command name per request received so far.
  std::vector<std::string> Commands() const;
  // Every file under the terminal's root with its bytes.
  std::map<std::string, std::string> Files() const;
  // Every file under the terminal's root with what it holds: a database as
  // its tables and rows (each value with its storage class, rows sorted),
  // any other file as its bytes. A selection task's key and the Registry's
  // Date and RealName, which follow the clock, are left out.
  std::map<std::string, std::string> Contents() const;

  const std::string& root() const { return root_; }

 private:
  std::string base_, root_, log_;
  int pid_ = -1;
  bool quiet_ = false;  // the child's complaints go nowhere
};

// The number of descriptors this process holds.
int OpenDescriptorCount();
// The files under `dir` that this process holds open.
std::vector<std::string> FilesHeldUnder(const std::string& dir);

}  // namespace vtsd::hardening
