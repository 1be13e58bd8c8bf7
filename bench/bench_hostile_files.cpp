// Time and memory of every hostile terminal file of the test table: each
// case runs in a child process of its own, so its peak resident memory is
// its own; the peak of a child that runs the honest case is printed beside
// it as the floor. The goal: each ends within a few seconds and below 64 MB
// above the floor.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "tests/selection/fixtures.hpp"
#include "tests/selection/hostile_files.hpp"

namespace {

struct Outcome {
  double seconds = 0;
  long peak_kib = 0;
  bool as_expected = false;
  bool ended_by_limit = false;
};

Outcome RunInChild(const vtsd::test::HostileFileCase& c) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    // A case that is not held ends at these limits instead of taking the
    // machine: 2 GiB of address space, a minute.
    const rlimit space{2L << 30, 2L << 30};
    setrlimit(RLIMIT_AS, &space);
    alarm(60);
    vtsd::test::ScriptedDialogs dialogs;
    vtsd::SetMessageLanguage(vtsd::Language::English);  // the table's messages
    vtsd::test::WriteHostileFile(c);
    bool held = vtsd::test::RunHostileFileCase(c) == c.message;
    if (held && c.untouched_query != nullptr) {
      held = vtsd::test::Db(vtsd::TempPath(c.file)).Rows(c.untouched_query) ==
             std::vector<std::vector<std::string>>{{"0"}};
    }
    _exit(held ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Outcome outcome;
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.peak_kib = usage.ru_maxrss;
  outcome.as_expected = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  outcome.ended_by_limit = WIFSIGNALED(status);
  return outcome;
}

}  // namespace

int main() {
  vtsd::test::ScratchTempDir scratch;
  const auto& cases = vtsd::test::HostileFileCases();
  const Outcome floor = RunInChild(cases.front());
  std::printf("%-42s %8s %12s %14s  %s\n", "case", "seconds", "peak MiB", "above floor", "result");
  bool all_within = true;
  for (const auto& c : cases) {
    const Outcome o = RunInChild(c);
    const double above = (o.peak_kib - floor.peak_kib) / 1024.0;
    const bool within = o.seconds < 3.0 && above < 64.0;
    all_within = all_within && within && o.as_expected;
    std::printf("%-42s %8.3f %12.1f %14.1f  %s%s\n", c.name, o.seconds, o.peak_kib / 1024.0, above,
                o.ended_by_limit               ? "ENDED BY THE LIMITS"
                : !o.as_expected               ? "UNEXPECTED RESULT"
                : c.message[0] != '\0'         ? "coded message"
                : c.untouched_query != nullptr ? "done, the file's own code not run"
                                               : "done",
                within ? "" : "  (over the goal)");
  }
  std::printf("goal (each < 3 s, < 64 MiB above the floor): %s\n", all_within ? "met" : "NOT MET");
  return 0;
}
