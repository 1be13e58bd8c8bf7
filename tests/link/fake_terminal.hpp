// An in-process terminal for the link tests: it connects to the driver (or
// serves one end of a socket pair) on its own thread, answers every command
// against an in-memory file system, logs what it received and plays faults
// on demand.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.hpp"
#include "tests/support/free_port.hpp"

namespace vtsd::testing {

struct LoggedRequest {
  std::string command;
  std::string text;            // path or key (UTF-8), when the command has one
  std::vector<int32_t> ints;   // handle, count
  std::size_t payload_size = 0;
  std::size_t data_size = 0;   // "WriteFile" data bytes
};

class FakeTerminal {
 public:
  // Behaviour; set before starting.
  std::map<std::string, std::string> values{{"ProgrammName", "Merxa"},
                                            {"ProgrammVersion", "5.0.1"},
                                            {"MerxaDir", "\\Merxa5\\"},
                                            {"OrderDir", "\\Merxa5\\Order\\"}};
  std::string model = "VT-80";
  int32_t max_packet = 4096;
  int32_t handle = 7;
  bool status_pair_numbers = false;  // numbers as status-and-value replies
  bool refuse_delete = false;
  int32_t disconnect_answer = 1;
  // Raw reply frames that replace the normal answers to a command, in order.
  std::map<std::string, std::vector<std::vector<uint8_t>>> scripted;
  // Stop answering (keep the connection) or close it at the n-th request
  // (1-based, over all commands); 0 = never.
  int stall_at = 0;
  int close_at = 0;
  // Answer the n-th request only after late_ms (a Wi-Fi stall); 0 = never.
  int late_at = 0;
  int late_ms = 0;

  ~FakeTerminal();
  // Connects to the driver's port, retrying until it listens.
  void ConnectTo(uint16_t port);
  // Serves an already connected socket.
  void Serve(platform::SocketHandle socket);
  bool WaitConnected(int timeout_ms);
  // Ends the terminal's thread (also a stalled one) and closes its socket.
  void Stop();

  std::vector<LoggedRequest> Log();
  std::vector<std::string> Commands();
  std::vector<int32_t> Counts(const std::string& command);
  std::map<std::string, std::vector<uint8_t>> Files();
  void PutFile(const std::string& path, std::vector<uint8_t> bytes);

 private:
  void Run(uint16_t port);
  void ServeLoop();
  bool ReadExact(void* buffer, std::size_t count);
  std::vector<uint8_t> Answer(const std::string& command, const uint8_t* args, std::size_t size,
                              LoggedRequest& logged);
  std::vector<uint8_t> Number(int32_t value) const;

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> connected_{false};
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  std::mutex mutex_;
  std::vector<LoggedRequest> log_;
  std::map<std::string, std::vector<uint8_t>> files_;
  // The open file: its path, what was written since "OpenFile", read position.
  std::string open_path_;
  std::vector<uint8_t> written_;
  bool wrote_ = false;
  std::size_t read_at_ = 0;
};

using test::FreePort;

}  // namespace vtsd::testing
