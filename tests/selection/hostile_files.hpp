// Files a hostile device (or a damaged terminal application) could hand the
// driver as Orders.db or Podbor.db, and what each must give: a coded
// message, or the call's own work with nothing of the file's code run. The
// table is shared by the test that checks the outcomes and the benchmark
// that measures each case's time and memory.
#pragma once

#include <string>
#include <vector>

namespace vtsd::test {

struct HostileFileCase {
  const char* name;
  const char* file;  // "Orders.db" or "Podbor.db", in TempDir
  // Statements run on a fresh file of the kind the terminal writes (a
  // Registry and one honest document, "Honest").
  std::string setup;
  // A page whose cells are overwritten after the setup (0: none).
  int scribbled_page;
  // "documents:NAME" reads the document list and the named document's
  // lines; "task" adds a selection task.
  const char* operation;
  // The English message the call must raise; empty when it must succeed.
  const char* message;
  // For a call that succeeds: a query whose one value must be "0" after it
  // (what the file's own code would have written).
  const char* untouched_query;
};

const std::vector<HostileFileCase>& HostileFileCases();

// Makes TempDir + c.file as the case describes (an existing file goes).
void WriteHostileFile(const HostileFileCase& c);

// Runs the case's call; returns the raised text, or "" when it succeeded.
std::string RunHostileFileCase(const HostileFileCase& c);

}  // namespace vtsd::test
