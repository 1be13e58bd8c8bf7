#include "simulator.hpp"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "os.hpp"
#include "protocol.hpp"
#include "terminal.hpp"

namespace merxa {
namespace {

// Requests without data are a few hundred bytes at most; the frame limit is
// this or MaxPacketSize, whichever is larger.
constexpr int32_t kMinRequestLimit = 4096;
constexpr int kRetryPauseMs = 100;

class RequestLog {
 public:
  bool Open(const std::string& path) {
    if (path.empty()) return true;
    file_.open(std::filesystem::u8path(path), std::ios::out | std::ios::trunc | std::ios::binary);
    return file_.is_open();
  }
  void Write(const nlohmann::ordered_json& entry) {
    if (!file_.is_open()) return;
    file_ << entry.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    file_.flush();
  }

 private:
  std::ofstream file_;
};

enum class Ending { Disconnected, Closed };

class Session {
 public:
  Session(const Options& options, Terminal& terminal, RequestLog& log, int64_t& request_number)
      : options_(options), terminal_(terminal), log_(log), n_(request_number) {}

  Ending Serve(os::Connection& c) {
    const int timeout_ms = options_.idle_timeout_s * 1000;
    const int32_t limit = std::max(options_.max_packet, kMinRequestLimit);
    Bytes payload;
    for (;;) {
      uint8_t head[4];
      if (c.ReceiveAll(head, 4, timeout_ms) != os::IoResult::Ok) return Ending::Closed;
      const int32_t length = GetInt32(head);
      ++n_;
      nlohmann::ordered_json entry = {{"n", n_}, {"command", ""}};
      if (length < 0 || length > limit) {
        // Nothing after such a length can be trusted to be a frame.
        entry["bytes"] = length;
        entry["error"] = "request length outside 0.." + std::to_string(limit);
        log_.Write(entry);
        return Ending::Closed;
      }
      payload.resize(static_cast<size_t>(length));
      if (length > 0 && c.ReceiveAll(payload.data(), payload.size(), timeout_ms) != os::IoResult::Ok) {
        entry["bytes"] = length;
        entry["error"] = "connection ended inside a request";
        log_.Write(entry);
        return Ending::Closed;
      }
      const Request request = ParseRequest(payload);
      Describe(request, entry);
      entry["bytes"] = length;

      if (n_ == options_.close_at) {
        entry["fault"] = "close";
        log_.Write(entry);
        return Ending::Closed;
      }
      if (n_ == options_.stall_at) {
        entry["fault"] = "stall";
        log_.Write(entry);
        c.DrainUntilClosed(timeout_ms);
        return Ending::Closed;
      }
      if (n_ == options_.bad_length_at) {
        entry["fault"] = "bad-length";
        log_.Write(entry);
        uint8_t bad[4];
        PutInt32(bad, options_.bad_length);
        if (c.SendAll(bad, 4) != os::IoResult::Ok) return Ending::Closed;
        continue;
      }
      if (n_ == options_.garbage_at) {
        entry["fault"] = "garbage";
        log_.Write(entry);
        std::string junk;
        while (junk.size() < 64) junk += "GARBAGE!";
        if (c.SendAll(reinterpret_cast<const uint8_t*>(junk.data()), junk.size()) != os::IoResult::Ok) {
          return Ending::Closed;
        }
        continue;
      }

      if (n_ == options_.late_at) {
        // A stall that ends: whatever the driver does meanwhile, the reply
        // goes out late and the terminal goes on with the next request.
        entry["fault"] = "late";
        os::SleepMs(options_.late_ms);
      }
      bool disconnect = false;
      Bytes reply;
      if (n_ == options_.zero_at) {
        entry["fault"] = "zero";
        reply = NumberReply(0, options_.numbers);
      } else if (!request.error.empty()) {
        entry["error"] = request.error;
        reply = NumberReply(0, options_.numbers);
      } else {
        std::string note;
        reply = terminal_.Answer(request, disconnect, note);
        if (!note.empty()) entry["note"] = note;
      }
      entry["reply"] = reply.size();
      log_.Write(entry);
      const Bytes frame = Frame(reply);
      if (c.SendAll(frame.data(), frame.size()) != os::IoResult::Ok) return Ending::Closed;
      if (disconnect) return Ending::Disconnected;
    }
  }

 private:
  static void Describe(const Request& r, nlohmann::ordered_json& entry) {
    entry["command"] = r.name;
    switch (r.command) {
      case Command::OpenFile:
      case Command::CreateFile:
      case Command::ExistFile:
      case Command::DeleteFile:
        entry["path"] = os::Cp1251ToUtf8(r.text);
        break;
      case Command::GetFuture:
        entry["key"] = os::Cp1251ToUtf8(r.text);
        break;
      case Command::WriteFile:
      case Command::ReadFile:
        entry["handle"] = r.handle;
        entry["count"] = r.count;
        break;
      case Command::LengthFile:
      case Command::CloseFile:
        entry["handle"] = r.handle;
        break;
      default:
        break;
    }
  }

  const Options& options_;
  Terminal& terminal_;
  RequestLog& log_;
  int64_t& n_;
};

os::Connection ConnectWithRetry(const Options& o, std::ostream& err) {
  const int64_t deadline = os::NowMs() + int64_t{o.connect_timeout_s} * 1000;
  std::string error;
  for (;;) {
    os::Connection c = os::Connection::Connect(o.address, o.port, error);
    if (c.valid()) return c;
    if (os::NowMs() >= deadline) break;
    os::SleepMs(kRetryPauseMs);
  }
  err << "merxa-sim: no connection to " << o.address << ":" << o.port << " within " << o.connect_timeout_s
      << " s: " << error << "\n";
  return {};
}

}  // namespace

int RunSimulator(const Options& options, std::ostream& err) {
  os::NetworkScope network;
  if (!network.ok()) {
    err << "merxa-sim: the sockets library does not start\n";
    return kExitSetupFailed;
  }
  Terminal terminal(options);
  std::string error;
  if (!terminal.Prepare(error)) {
    err << "merxa-sim: " << error << "\n";
    return kExitSetupFailed;
  }
  RequestLog log;
  if (!log.Open(options.log_path)) {
    err << "merxa-sim: cannot write the log file " << options.log_path << "\n";
    return kExitSetupFailed;
  }
  int64_t request_number = 0;
  Ending ending = Ending::Closed;
  for (int connection = 0; connection <= options.reconnects; ++connection) {
    os::Connection c = ConnectWithRetry(options, err);
    if (!c.valid()) return kExitNoConnection;
    Session session(options, terminal, log, request_number);
    ending = session.Serve(c);
    terminal.CloseAll();
  }
  return ending == Ending::Disconnected ? kExitDisconnected : kExitConnectionLost;
}

}  // namespace merxa
