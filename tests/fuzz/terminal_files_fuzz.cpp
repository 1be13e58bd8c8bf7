// Files from the terminal: the input is the image of a SQLite file (seeded
// with files the terminal application and the driver write; the mutations
// reach into their pages, records and schema), handed to the driver as
// Orders.db or as Podbor.db. The document list and the XML of every listed
// document must end in their result or a coded message, the task upload's
// changes to the task file in their result or a failure that says what it
// is: a crash, a sanitizer report, a statement that outruns its bound
// (libFuzzer's -timeout) or memory beyond the limit (-malloc_limit_mb,
// -rss_limit_mb) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/messages.hpp"
#include "base/temp_dir.hpp"
#include "platform/dialogs.hpp"
#include "selection/document_download.hpp"
#include "selection/selection_database.hpp"
#include "selection/selection_window.hpp"
#include "selection/task_upload.hpp"

namespace {

// The replacement question is answered Yes, so the drop of a task the file
// names is reached as well.
class YesDialogs : public vtsd::platform::DialogProvider {
 public:
  vtsd::platform::BoxAnswer ShowMessageBox(const vtsd::platform::MessageBoxRequest&,
                                           vtsd::platform::BoxCloser*) override {
    return vtsd::platform::BoxAnswer::Yes;
  }
  vtsd::platform::SelectionWindowEvent WaitSelectionWindow(const vtsd::platform::SelectionWindowRequest&) override {
    return {};
  }
};

YesDialogs dialogs;
std::string scratch;

void WriteImage(const char* name, const uint8_t* data, size_t size) {
  const std::string path = scratch + name;
  std::remove((path + "-journal").c_str());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

// The document download's failures are coded messages; the task upload's
// statements fail with SQLite's own text, which must at least say something.
void ExpectCoded(const vtsd::DriverError& e) {
  if (vtsd::CodeOfMark(e.text()) < 0) __builtin_trap();
}
void ExpectText(const vtsd::DriverError& e) {
  if (e.text().empty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = std::string(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") +
                        "/vtsd-fuzz-terminal-XXXXXX";
  if (!::mkdtemp(pattern.data())) std::abort();
  scratch = pattern + "/";
  vtsd::SetTempDir(scratch);
  vtsd::platform::InstallDialogProvider(&dialogs);
  return 0;
}

// Which call reads the image: the low bit of the first byte of the header's
// application id (offset 68), a field SQLite leaves to the application, so
// every seed chooses its own call and a mutation there moves it to the other.
bool ForTheTaskUpload(const uint8_t* data, size_t size) { return size > 68 && (data[68] & 1) != 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!ForTheTaskUpload(data, size)) {
    WriteImage(vtsd::kOrdersFileName, data, size);
    try {
      vtsd::ListDocumentNames(vtsd::kOrdersFileName);
      std::string chosen;
      size_t listed = 0;
      for (const std::string& name : vtsd::DocumentNames()) {
        if (++listed > 8) break;
        chosen += name + vtsd::kChoiceSeparator;
      }
      vtsd::BuildDocumentXml(vtsd::kOrdersFileName, chosen);
    } catch (const vtsd::DriverError& e) {
      ExpectCoded(e);
    }
    return 0;
  }
  WriteImage(vtsd::kSelectionFileName, data, size);
  try {
    vtsd::AddSelectionTask("<Table PodborName=\"Picking\"><Record Articule=\"4601\" Value=\"2\"/></Table>",
                           vtsd::kSelectionFileName,
                           [] { return vtsd::platform::LocalDateTimeText{"11.12.2026", "10:00:00"}; });
  } catch (const vtsd::DriverError& e) {
    ExpectText(e);
  }
  return 0;
}
