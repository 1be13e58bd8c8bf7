// The task-table parse and AddSelectionTask on a scratch selection file: any
// text either becomes a task or fails with a coded message. Replacement
// questions are answered No, so a task of a name already present is refused.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "addin/messages.hpp"
#include "addin/temp_dir.hpp"
#include "platform/dialogs.hpp"
#include "selection/selection_database.hpp"
#include "selection/task_upload.hpp"

namespace {

class NoDialogs : public vtsd::platform::DialogProvider {
 public:
  vtsd::platform::BoxAnswer ShowMessageBox(const vtsd::platform::MessageBoxRequest&,
                                           vtsd::platform::BoxCloser*) override {
    return vtsd::platform::BoxAnswer::No;
  }
  vtsd::platform::SelectionWindowEvent WaitSelectionWindow(const vtsd::platform::SelectionWindowRequest&) override {
    return {};
  }
};

vtsd::platform::LocalDateTimeText FixedClock() { return {"10.12.2026", "10:10:10"}; }

NoDialogs dialogs;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/vtsd-fuzz-task-XXXXXX";
  if (!::mkdtemp(dir)) std::abort();
  vtsd::SetTempDir(std::string(dir) + "/");
  vtsd::platform::InstallDialogProvider(&dialogs);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(vtsd::TempDir(), ignored))
    std::filesystem::remove(entry.path(), ignored);
  if (!vtsd::CreateSelectionDatabase()) std::abort();
  try {
    vtsd::AddSelectionTask(std::string(reinterpret_cast<const char*>(data), size), "Podbor.db", FixedClock);
  } catch (const vtsd::DriverError& e) {
    if (e.text().empty()) __builtin_trap();
  }
  return 0;
}
