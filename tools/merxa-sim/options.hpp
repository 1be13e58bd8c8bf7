// Command-line settings of the simulator.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "protocol.hpp"

namespace merxa {

// Answer 0 to a command, or to a command only for one path or key.
struct ZeroRule {
  Command command = Command::Unknown;
  bool any_argument = true;
  std::string argument;  // compared with the decoded path or key
};

struct Options {
  std::string address = "127.0.0.1";
  int port = 0;
  int connect_timeout_s = 30;
  int idle_timeout_s = 0;  // 0: wait for the driver's next request without end
  std::string root;        // directory standing for the terminal's file system
  std::string model = "Vemlar VT-500";
  int32_t max_packet = 4096;
  NumberShape numbers = NumberShape::Four;
  // Texts answered to GetFuture, by key (ProgrammName, ProgrammVersion,
  // MerxaDir, OrderDir and any other key set with --value).
  std::map<std::string, std::string> values;
  std::string log_path;
  bool create_setup = true;
  // Order documents served from OrderDir: a fixture file copied in at start,
  // or a JSON description (inline when it starts with "{", else a file)
  // written as "Orders.db" (documents.hpp).
  std::string orders_file;
  std::string documents_file;
  // Play the operator: after every completed write of "Podbor.db", fill the
  // lines of each task not yet worked from its selection lines.
  bool pick = false;
  int reconnects = 0;  // connections made again after one ends

  // Faults, counted by request number since the start (1 = first request).
  int64_t close_at = 0;
  int64_t stall_at = 0;
  int64_t bad_length_at = 0;
  int32_t bad_length = 0x7FFFFFFF;
  int64_t garbage_at = 0;
  int64_t late_at = 0;     // answer this request only after late_ms
  int late_ms = 35000;     // longer than the driver's exchange limit
  int64_t zero_at = 0;     // answer this request 0 without doing it
  std::vector<ZeroRule> zero;

  bool help = false;

  const std::string& Value(const std::string& key) const;
};

// Parses the arguments after the program name. Returns false with `error`
// set when an argument is unknown, lacks its value or has a bad value.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// The --help text.
std::string HelpText();

}  // namespace merxa
