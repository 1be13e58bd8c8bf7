// Whole-file transfers over loopback: a 64 MiB file sent to and fetched from
// an in-process terminal at packet sizes 4096 and 65536. Prints MB/s beside a
// floor measured in the same run (the same request/reply pieces on a raw
// socket pair, with no file, encoder or decoder), and the peak memory the
// transfer adds.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "bench/process_memory.hpp"
#include "link/framing.hpp"
#include "link/remote_files.hpp"
#include "link/session.hpp"
#include "platform/socket.hpp"

namespace {

using vtsd::bench::ResetPeakRss;
using vtsd::bench::StatusBytes;
using vtsd::platform::SocketHandle;
using vtsd::platform::SocketOwner;

constexpr int64_t kFileBytes = 64ll << 20;

// A TempDir of the benchmark's own with the file to send, removed at exit.
class Scratch {
 public:
  Scratch() {
    char dir[] = "/tmp/vtsd-bench-transfer-XXXXXX";
    path_ = ::mkdtemp(dir) ? dir : "/tmp";
    vtsd::SetTempDir(path_ + "/");
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 31);
    std::ofstream out(vtsd::TempPath("Merxa.db"), std::ios::binary);
    for (int64_t at = 0; at < kFileBytes; at += static_cast<int64_t>(chunk.size()))
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

 private:
  std::string path_;
};

void UseScratch() { static Scratch scratch; }

struct Pair {
  SocketOwner driver, peer;
  Pair() {
    SocketOwner listener(vtsd::platform::CreateTcpSocket());
    vtsd::platform::BindIPv4(listener.get(), "127.0.0.1", 0);
    vtsd::platform::Listen(listener.get(), 1);
    peer.reset(vtsd::platform::ConnectIPv4("127.0.0.1", vtsd::platform::LocalPort(listener.get())));
    driver.reset(vtsd::platform::Accept(listener.get()));
  }
};

bool ReadExact(SocketHandle s, uint8_t* p, std::size_t n) {
  while (n > 0) {
    const int64_t got = vtsd::platform::Receive(s, p, n);
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteExact(SocketHandle s, const uint8_t* p, std::size_t n) {
  while (n > 0) {
    const int64_t sent = vtsd::platform::Send(s, p, n);
    if (sent <= 0) return false;
    p += sent;
    n -= static_cast<std::size_t>(sent);
  }
  return true;
}

// The terminal side: answers the transfer commands, discards written data
// and serves reads from a fixed piece, all in buffers made before the run.
void ServeTerminal(SocketHandle s, int32_t packet) {
  std::vector<uint8_t> request(static_cast<std::size_t>(packet) + 64);
  std::vector<uint8_t> reply(static_cast<std::size_t>(packet) + 12);
  for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i);
  auto number = [&](int32_t v) {
    uint8_t b[8];
    vtsd::PutInt32(b, 4);
    vtsd::PutInt32(b + 4, v);
    return WriteExact(s, b, sizeof b);
  };
  for (;;) {
    uint8_t len[4];
    if (!ReadExact(s, len, 4)) return;
    const int32_t n = vtsd::GetInt32(len);
    if (n < 0 || static_cast<std::size_t>(n) > request.size() || !ReadExact(s, request.data(), n)) return;
    const char* command = reinterpret_cast<const char*>(request.data());
    bool ok = true;
    if (std::strcmp(command, "GetHrpMaxBuffer") == 0) {
      ok = number(packet);
    } else if (std::strcmp(command, "ExistFile") == 0) {
      ok = number(1);
    } else if (std::strcmp(command, "LengthFile") == 0) {
      ok = number(static_cast<int32_t>(kFileBytes));
    } else if (std::strcmp(command, "ReadFile") == 0) {
      const int32_t count = vtsd::GetInt32(request.data() + 13);
      vtsd::PutInt32(reply.data(), count + 8);
      ok = WriteExact(s, reply.data(), static_cast<std::size_t>(count) + 12);
    } else if (std::strcmp(command, "WriteFile") == 0) {
      ok = number(vtsd::GetInt32(request.data() + 14));
    } else if (std::strcmp(command, "GetFuture") == 0) {
      // Directory answers: status 1, the text, a closing zero.
      static const uint8_t dir[] = {0, 0, 0, 11, 0, 0, 0, 1, '\\', 'D', 'a', 't', 'a', '\\', 0};
      ok = WriteExact(s, dir, sizeof dir);
    } else if (std::strcmp(command, "Disconnect") == 0) {
      number(1);
      return;
    } else {
      ok = number(7);  // handles and every other answer
    }
    if (!ok) return;
  }
}

// The floor: the same pieces as bare request/reply frames on a socket pair.
double FloorSeconds(bool upload, int32_t packet) {
  Pair pair;
  const std::size_t piece = static_cast<std::size_t>(upload ? packet - 18 : packet);
  std::thread peer([&] {
    std::vector<uint8_t> buffer(piece + 32);
    for (int64_t done = 0; done < kFileBytes; done += static_cast<int64_t>(piece)) {
      const std::size_t in = upload ? piece + 22 : 21;
      const std::size_t out = upload ? 8 : piece + 12;
      if (!ReadExact(pair.peer.get(), buffer.data(), in)) return;
      vtsd::PutInt32(buffer.data(), static_cast<int32_t>(out - 4));
      if (!WriteExact(pair.peer.get(), buffer.data(), out)) return;
    }
  });
  std::vector<uint8_t> buffer(piece + 32);
  const auto start = std::chrono::steady_clock::now();
  for (int64_t done = 0; done < kFileBytes; done += static_cast<int64_t>(piece)) {
    const std::size_t out = upload ? piece + 22 : 21;
    const std::size_t in = upload ? 8 : piece + 12;
    vtsd::PutInt32(buffer.data(), static_cast<int32_t>(out - 4));
    WriteExact(pair.driver.get(), buffer.data(), out);
    ReadExact(pair.driver.get(), buffer.data(), in);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  peer.join();
  return seconds;
}

void BM_Transfer(benchmark::State& state, bool upload) {
  UseScratch();
  vtsd::SetMessageLanguage(vtsd::Language::English);
  const int32_t packet = static_cast<int32_t>(state.range(0));
  double floor_seconds = 0, extra = 0;
  for (auto _ : state) {
    Pair pair;
    std::thread terminal(ServeTerminal, pair.peer.get(), packet);
    malloc_trim(0);
    const double rss_before = StatusBytes("VmRSS");
    ResetPeakRss();
    const auto start = std::chrono::steady_clock::now();
    try {
      vtsd::TerminalSession& session = vtsd::Session();
      session.Adopt(pair.driver.release());
      const vtsd::TerminalLocation where{"", "", "Orders.db"};
      if (upload) {
        vtsd::UploadDatabaseFile(session, "Merxa.db", where);
      } else {
        vtsd::DownloadDatabaseFile(session, where, "Copy.db");
      }
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    extra = StatusBytes("VmHWM") - rss_before;
    vtsd::Session().End();
    terminal.join();
    floor_seconds = FloorSeconds(upload, packet);
  }
  state.SetBytesProcessed(state.iterations() * kFileBytes);
  state.counters["floor_MB/s"] = kFileBytes / 1e6 / floor_seconds;
  state.counters["peak_extra_KB"] = extra / 1e3;
}

BENCHMARK_CAPTURE(BM_Transfer, upload, true)->Arg(4096)->Arg(65536)->UseManualTime()->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transfer, download, false)->Arg(4096)->Arg(65536)->UseManualTime()->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
