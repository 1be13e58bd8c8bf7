// The task-table parse and AddSelectionTask on an empty selection file in a
// scratch TempDir in memory: any text either becomes a task or fails with a
// message. Replacement
// questions are answered No, so a task of a name already present is refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/messages.hpp"
#include "platform/dialogs.hpp"
#include "selection/selection_database.hpp"
#include "selection/task_upload.hpp"
#include "tests/fuzz/scratch_image.hpp"

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
std::unique_ptr<vtsd::fuzz::ScratchImage> selection;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  selection = std::make_unique<vtsd::fuzz::ScratchImage>("task", vtsd::kSelectionFileName, [] {
    if (!vtsd::CreateSelectionDatabase()) std::abort();
  });
  vtsd::platform::InstallDialogProvider(&dialogs);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  selection->Restore();
  try {
    vtsd::AddSelectionTask(std::string(reinterpret_cast<const char*>(data), size), "Podbor.db", FixedClock);
  } catch (const vtsd::DriverError& e) {
    if (e.text().empty()) __builtin_trap();
  }
  return 0;
}
