#include "fake_terminal.hpp"

#include <chrono>
#include <cstring>

#include "link/framing.hpp"
#include "platform/codepage.hpp"
#include "socket_pair.hpp"

namespace vtsd::testing {

FakeTerminal::~FakeTerminal() { Stop(); }

void FakeTerminal::ConnectTo(uint16_t port) {
  thread_ = std::thread([this, port] { Run(port); });
}

void FakeTerminal::Serve(platform::SocketHandle socket) {
  socket_ = socket;
  connected_ = true;
  thread_ = std::thread([this] { ServeLoop(); });
}

bool FakeTerminal::WaitConnected(int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 5) {
    if (connected_) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return connected_;
}

void FakeTerminal::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (socket_ != platform::kInvalidSocket) platform::CloseSocket(socket_);
  socket_ = platform::kInvalidSocket;
}

void FakeTerminal::Run(uint16_t port) {
  while (!stop_) {
    const platform::SocketHandle s = platform::ConnectIPv4("127.0.0.1", port);
    if (s != platform::kInvalidSocket) {
      socket_ = s;
      connected_ = true;
      ServeLoop();
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool FakeTerminal::ReadExact(void* buffer, std::size_t count) {
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    if (stop_) return false;
    const int ready = platform::WaitReadable(socket_, 20);
    if (ready < 0) return false;
    if (ready == 0) continue;
    const int64_t n = platform::Receive(socket_, p, count);
    if (n <= 0) return false;
    p += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

void FakeTerminal::ServeLoop() {
  int request_number = 0;
  for (;;) {
    uint8_t len[4];
    if (!ReadExact(len, 4)) return;
    const int32_t n = GetInt32(len);
    std::vector<uint8_t> payload(static_cast<std::size_t>(n > 0 ? n : 0));
    if (!ReadExact(payload.data(), payload.size())) return;
    ++request_number;
    const std::size_t name_len = strnlen(reinterpret_cast<const char*>(payload.data()), payload.size());
    const std::string command(reinterpret_cast<const char*>(payload.data()), name_len);
    const std::size_t args_at = std::min(name_len + 1, payload.size());

    LoggedRequest logged;
    logged.command = command;
    logged.payload_size = payload.size();
    std::vector<uint8_t> reply =
        Answer(command, payload.data() + args_at, payload.size() - args_at, logged);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(logged);
    }
    if (request_number == close_at) {
      platform::CloseSocket(socket_);
      socket_ = platform::kInvalidSocket;
      return;
    }
    if (request_number == late_at) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(late_ms);
      while (!stop_ && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (request_number == stall_at) {
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      return;
    }
    bool from_script = false;
    auto scripted_it = scripted.find(command);
    if (scripted_it != scripted.end() && !scripted_it->second.empty()) {
      from_script = true;
      reply = scripted_it->second.front();
      scripted_it->second.erase(scripted_it->second.begin());
    }
    const int64_t sent = platform::Send(socket_, reply.data(), reply.size());
    if (sent != static_cast<int64_t>(reply.size())) {
      std::size_t at = sent > 0 ? static_cast<std::size_t>(sent) : 0;
      while (at < reply.size()) {
        const int64_t more = platform::Send(socket_, reply.data() + at, reply.size() - at);
        if (more <= 0) return;
        at += static_cast<std::size_t>(more);
      }
    }
    // A terminal that accepted the disconnection ends the exchange.
    if (command == "Disconnect" && !from_script && disconnect_answer != 0) return;
  }
}

std::vector<uint8_t> FakeTerminal::Number(int32_t value) const {
  return status_pair_numbers ? StatusReply(1, value) : NumberReply(value);
}

std::vector<uint8_t> FakeTerminal::Answer(const std::string& command, const uint8_t* args,
                                          std::size_t size, LoggedRequest& logged) {
  auto text_arg = [&] {
    const std::size_t len = strnlen(reinterpret_cast<const char*>(args), size);
    logged.text = platform::AnsiToUtf8(std::string(reinterpret_cast<const char*>(args), len));
    return logged.text;
  };
  auto int_arg = [&](std::size_t at) {
    const int32_t v = at + 4 <= size ? GetInt32(args + at) : 0;
    logged.ints.push_back(v);
    return v;
  };
  std::lock_guard<std::mutex> lock(mutex_);
  if (command == "GetFuture") {
    auto it = values.find(text_arg());
    return TextReply(it == values.end() ? std::string() : it->second);
  }
  if (command == "GetTerminalVersion") return TextReply(model);
  if (command == "GetHrpMaxBuffer") return Number(max_packet);
  if (command == "Disconnect") return Number(disconnect_answer);
  if (command == "ExistFile") return Number(files_.count(text_arg()) ? 1 : 0);
  if (command == "DeleteFile") {
    const std::string path = text_arg();
    if (refuse_delete || !files_.count(path)) return Number(0);
    files_.erase(path);
    return Number(1);
  }
  if (command == "CreateFile") {
    files_[text_arg()].clear();
    return Number(1);
  }
  if (command == "OpenFile") {
    open_path_ = text_arg();
    written_.clear();
    wrote_ = false;
    read_at_ = 0;
    return Number(files_.count(open_path_) ? handle : 0);
  }
  if (command == "WriteFile") {
    int_arg(0);
    const int32_t count = int_arg(4);
    logged.data_size = size >= 8 ? size - 8 : 0;
    if (count > 0 && static_cast<std::size_t>(count) <= logged.data_size)
      written_.insert(written_.end(), args + 8, args + 8 + count);
    wrote_ = true;
    return Number(count);
  }
  if (command == "LengthFile") {
    int_arg(0);
    return Number(static_cast<int32_t>(files_[open_path_].size()));
  }
  if (command == "ReadFile") {
    int_arg(0);
    const int32_t count = int_arg(4);
    const std::vector<uint8_t>& file = files_[open_path_];
    const std::size_t from = std::min(read_at_, file.size());
    const std::size_t to = std::min(from + static_cast<std::size_t>(count > 0 ? count : 0), file.size());
    read_at_ = to;
    return DataReply(std::vector<uint8_t>(file.begin() + from, file.begin() + to));
  }
  if (command == "CloseFile") {
    int_arg(0);
    if (wrote_) files_[open_path_] = written_;
    return Number(1);
  }
  return Number(0);
}

std::vector<LoggedRequest> FakeTerminal::Log() {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::vector<std::string> FakeTerminal::Commands() {
  std::vector<std::string> out;
  for (const LoggedRequest& r : Log()) out.push_back(r.command);
  return out;
}

std::vector<int32_t> FakeTerminal::Counts(const std::string& command) {
  std::vector<int32_t> out;
  for (const LoggedRequest& r : Log())
    if (r.command == command && r.ints.size() >= 2) out.push_back(r.ints[1]);
  return out;
}

std::map<std::string, std::vector<uint8_t>> FakeTerminal::Files() {
  std::lock_guard<std::mutex> lock(mutex_);
  return files_;
}

void FakeTerminal::PutFile(const std::string& path, std::vector<uint8_t> bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_[path] = std::move(bytes);
}

}  // namespace vtsd::testing
