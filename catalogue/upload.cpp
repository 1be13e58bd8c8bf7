#include "catalogue/upload.hpp"

#include <utility>

#include "base/temp_dir.hpp"
#include "catalogue/article_import.hpp"
#include "catalogue/catalogue_database.hpp"
#include "catalogue/finishing.hpp"
#include "catalogue/upload_state.hpp"
#include "link/messages.hpp"
#include "link/kept_copies.hpp"
#include "link/remote_files.hpp"
#include "link/terminal_id.hpp"
#include "link/application_version.hpp"
#include "platform/files.hpp"
#include "store/local_database.hpp"

namespace vtsd {

namespace upload_text {
const Msg kUnsupportedVersionStart{"5Ваша версия Merxa ", "5Your version Merxa "};
const Msg kUnsupportedVersionEnd{" Не поддерживается.", " is not supported."};
const Msg kNotStarted{"5Ошибка при выгрузке таблицы,выгрузка не начата: начните её заново пакетом first.",
                      "5Error while unloading table, the upload has not been started: start it again with the "
                      "package first."};
const Msg kLastTaken{"5Ошибка при выгрузке таблицы,последний пакет уже принят: повторите пакет last или начните "
                     "выгрузку заново пакетом first.",
                     "5Error while unloading table, the last package has already been taken: repeat the package "
                     "last or start the upload again with the package first."};
const Msg kKeepEarlier{"5Ошибка при сохранении копии Merxa.db.", "5Error while unloading table, try again."};
}  // namespace upload_text

namespace {

// Where the files live on the terminal: the catalogue in the directory the
// application names, its settings file in the root.
const TerminalLocation kCatalogueOnTerminal{"MerxaDir", "", kCatalogueFileName};
const TerminalLocation kSettingsOnTerminal{"", "\\", kSettingsFileName};

// The catalogue of the earlier packages, kept in TempDir while a "last" is
// imported and finished, so that a rebuilt last package can replace the one
// that failed.
constexpr const char* kEarlierPackagesFileName = "Merxa.earlier.db";

bool SupportedVersion(const std::string& version) { return !version.empty() && version[0] == '5'; }

// Where a waiting upload's catalogue files are set aside.
std::string WaitingFileName(const std::string& local_name, const std::string& terminal_id) {
  return local_name + "." + terminal_id + ".waiting";
}

// Moves one catalogue file between its working name and its waiting name;
// a file that is not there has nothing to move.
void MoveCatalogueFile(const std::string& from, const std::string& to) {
  if (!platform::FileExists(TempPath(from))) {
    platform::RemoveFile(TempPath(to));
    return;
  }
  if (!platform::RenameFile(TempPath(from), TempPath(to))) Raise(upload_text::kKeepEarlier);
}

// Waiting files that no waiting upload of this process owns (an earlier
// process set them aside) go once they are older than a copy may be.
void RemoveForgottenWaitingFiles() {
  for (const std::string& name : platform::FileNamesEndingWith(TempDir(), ".waiting")) {
    bool owned = false;
    for (const auto& entry : WaitingUploads()) {
      owned = owned || name == WaitingFileName(kCatalogueFileName, entry.first) ||
              name == WaitingFileName(kEarlierPackagesFileName, entry.first);
    }
    if (!owned && platform::SecondsSinceModified(TempPath(name)) > kKeptCopyLifetimeSeconds) {
      platform::RemoveFile(TempPath(name));
    }
  }
}

// Whether an upload holds anything a later package of its terminal needs.
bool HoldsAnything(const UploadState& state) {
  return state.UploadInProgress || state.last_imported || state.ended_by_clear;
}

// Makes the upload of the terminal `terminal_id` the one calls work on: the
// upload of the terminal before it waits, with its files, until that
// terminal's next package or ClearTable; a terminal without an upload of
// its own starts with none in progress.
void TakeUploadOf(const std::string& terminal_id) {
  RemoveForgottenWaitingFiles();
  std::string& active = ActiveUploadTerminal();
  if (terminal_id == active) return;
  UploadState& state = CatalogueUploadState();
  std::map<std::string, UploadState>& waiting = WaitingUploads();
  if (HoldsAnything(state)) {
    MoveCatalogueFile(kCatalogueFileName, WaitingFileName(kCatalogueFileName, active));
    MoveCatalogueFile(kEarlierPackagesFileName, WaitingFileName(kEarlierPackagesFileName, active));
    waiting[active] = state;
  }
  state = UploadState{};
  platform::RemoveFile(TempPath(kEarlierPackagesFileName));
  active = terminal_id;
  const auto own = waiting.find(terminal_id);
  if (own == waiting.end()) return;
  MoveCatalogueFile(WaitingFileName(kCatalogueFileName, terminal_id), kCatalogueFileName);
  MoveCatalogueFile(WaitingFileName(kEarlierPackagesFileName, terminal_id), kEarlierPackagesFileName);
  state = own->second;
  waiting.erase(own);
}

// Ends the upload: nothing of it carries over into the next one.
void EndUpload() {
  UploadState& state = CatalogueUploadState();
  const bool ended_by_clear = state.ended_by_clear;
  state = UploadState{};
  state.ended_by_clear = ended_by_clear;
  platform::RemoveFile(TempPath(kEarlierPackagesFileName));
}

// Starts a new catalogue: an empty file and an upload state that nothing of
// an earlier, possibly failed, upload leaks into.
void StartCatalogue(bool begun_with_first) {
  // Until the new file exists no package may land in whatever file is there.
  EndUpload();
  UploadState& state = CatalogueUploadState();
  state.ended_by_clear = false;
  CreateCatalogueDatabase();
  state.UploadInProgress = true;
  state.begun_with_first = begun_with_first;
}

// Keeps the catalogue of the earlier packages and their columns before the
// last package goes in. A one-package upload has none to keep.
void KeepEarlierPackages() {
  UploadState& state = CatalogueUploadState();
  state.earlier_highest_field_index = state.HighestFieldIndex;
  state.earlier_packages_present = state.PackagesPresent;
  state.earlier_coefficient_column = state.CoefficientColumn;
  if (state.begun_with_first) CopyLocalDatabase(kCatalogueFileName, kEarlierPackagesFileName, upload_text::kKeepEarlier);
}

// Takes the imported last package out again: the catalogue and its columns
// go back to what the earlier packages gave.
void ReturnToEarlierPackages() {
  UploadState& state = CatalogueUploadState();
  if (!state.begun_with_first) {
    StartCatalogue(false);
    return;
  }
  CopyLocalDatabase(kEarlierPackagesFileName, kCatalogueFileName, upload_text::kKeepEarlier);
  state.HighestFieldIndex = state.earlier_highest_field_index;
  state.PackagesPresent = state.earlier_packages_present;
  state.CoefficientColumn = state.earlier_coefficient_column;
  state.last_imported = false;
  state.next_step = FinishStep::Squeeze;
}

// Runs the finishing steps from the first one not yet done; each step that
// completes is recorded at once, so that a failure leaves the next call the
// steps still to do.
void FinishAndSendCatalogue(TerminalSession& session) {
  UploadState& state = CatalogueUploadState();
  if (state.next_step == FinishStep::Squeeze) {
    DropEmptyColumns();
    state.next_step = FinishStep::Barcodes;
  }
  if (state.next_step == FinishStep::Barcodes) {
    if (state.PackagesPresent) {
      FillPackageBarcodes();
      state.PackagesPresent = false;
    }
    state.next_step = FinishStep::Captions;
  }
  if (state.next_step == FinishStep::Captions) {
    SyncFieldCaptions(session);
    state.next_step = FinishStep::Send;
  }
  UploadDatabaseFile(session, kCatalogueFileName, kCatalogueOnTerminal);
}

}  // namespace

bool SyncFieldCaptions(TerminalSession& session) {
  // An earlier send cut short may have left the terminal without its whole
  // settings file: the copy that was being sent then takes its place.
  switch (FetchDatabaseFileOrUnsentCopy(session, kSettingsOnTerminal, kSettingsFileName, LocalDatabaseIsIntact)) {
    case FetchResult::Missing: Raise(link_text::kRemoteMissing);
    case FetchResult::Empty: Raise(link_text::kFileSize);
    case FetchResult::Fetched:
    case FetchResult::Restored: break;
  }
  UpdateFieldCaptions(session.app_version);
  UploadKeepingUnsentCopy(session, kSettingsFileName, kSettingsOnTerminal);
  return true;
}

bool UploadCatalogue(TerminalSession& session, std::string table_text, const std::string& package_status) {
  TakeUploadOf(TerminalId(session));
  UploadState& state = CatalogueUploadState();

  if (package_status == "first") {
    StartCatalogue(true);
    ImportArticleTable(std::move(table_text));
    return true;
  }
  // The packages after a "first" whose upload ClearTable ended would build a
  // catalogue without that upload's earlier packages.
  if (state.ended_by_clear) Raise(upload_text::kNotStarted);

  if (package_status != "last") {
    // Once the last package is in, the catalogue takes no more packages: it
    // may already be finished.
    if (state.last_imported) Raise(upload_text::kLastTaken);
    if (state.UploadInProgress) ImportArticleTable(std::move(table_text));
    return true;
  }

  // A "last" after a failed one: the same package goes on from the step that
  // failed; a package built anew takes the failed one's place.
  const PackageFingerprint package = FingerprintOf(table_text.data(), table_text.size());
  if (state.last_imported && !(package == state.last_package)) ReturnToEarlierPackages();
  if (!state.last_imported) {
    if (!state.UploadInProgress) StartCatalogue(false);
    KeepEarlierPackages();
    ImportArticleTable(std::move(table_text));
    state.last_imported = true;
    state.last_package = package;
    state.next_step = FinishStep::Squeeze;
  }
  FinishAndSendCatalogue(session);
  EndUpload();
  return true;
}

bool UploadTableOperation(TerminalSession& session, std::string table_text,
                          const std::string& package_status) {
  const std::string version = QueryAppVersion(session);
  if (!SupportedVersion(version)) {
    RaiseText(upload_text::kUnsupportedVersionStart.Text() + version + upload_text::kUnsupportedVersionEnd.Text());
  }
  return UploadCatalogue(session, std::move(table_text), package_status);
}

bool ClearTableOperation(TerminalSession& session) {
  if (SupportedVersion(QueryAppVersion(session))) {
    TakeUploadOf(TerminalId(session));
    // The empty catalogue takes the place of the one an upload was
    // building: that upload is over, and one begun with "first" takes no
    // more packages.
    const bool had_earlier_packages = CatalogueUploadState().UploadInProgress && CatalogueUploadState().begun_with_first;
    EndUpload();
    if (had_earlier_packages) CatalogueUploadState().ended_by_clear = true;
    CreateCatalogueDatabase();
    UploadDatabaseFile(session, kCatalogueFileName, kCatalogueOnTerminal);
  }
  return true;
}

}  // namespace vtsd
