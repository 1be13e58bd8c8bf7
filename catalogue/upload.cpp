#include "catalogue/upload.hpp"

#include <utility>

#include "catalogue/article_import.hpp"
#include "catalogue/catalogue_database.hpp"
#include "catalogue/finishing.hpp"
#include "catalogue/upload_state.hpp"
#include "link/terminal_identity.hpp"
#include "store/local_database.hpp"
#include "link/messages.hpp"
#include "link/remote_files.hpp"

namespace vtsd {

namespace upload_text {
const Msg kUnsupportedVersionStart{"5Ваша версия Merxa ", "5Your version Merxa "};
const Msg kUnsupportedVersionEnd{" Не поддерживается.", " is not supported."};
}  // namespace upload_text

namespace {

// Where the files live on the terminal: the catalogue in the directory the
// application names, its settings file in the root.
const TerminalLocation kCatalogueOnTerminal{"MerxaDir", "", kCatalogueFileName};
const TerminalLocation kSettingsOnTerminal{"", "\\", kSettingsFileName};

bool SupportedVersion(const std::string& version) { return !version.empty() && version[0] == '5'; }

// Starts a new catalogue: an empty file and an upload state that nothing of
// an earlier, possibly failed, upload leaks into.
void StartCatalogue() {
  UploadState& state = CatalogueUploadState();
  // Until the new file exists no package may land in whatever file is there.
  state.UploadInProgress = false;
  state.HighestFieldIndex = 0;
  state.PackagesPresent = false;
  state.CoefficientColumn = 0;
  CreateCatalogueDatabase();
  state.UploadInProgress = true;
}

// Finishes the catalogue whose last package has been imported and sends it.
void FinishAndSendCatalogue(TerminalSession& session) {
  UploadState& state = CatalogueUploadState();
  DropEmptyColumns();
  if (state.PackagesPresent) {
    FillPackageBarcodes();
    state.PackagesPresent = false;
  }
  SyncFieldCaptions(session);
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
  UploadState& state = CatalogueUploadState();
  const bool last = package_status == "last";

  if (package_status == "first") StartCatalogue();
  if (state.UploadInProgress) {
    ImportArticleTable(std::move(table_text));
  } else if (last) {
    StartCatalogue();
    ImportArticleTable(std::move(table_text));
  }
  if (!last) return true;

  // The last package is in the file. Should a later step fail, the upload
  // ends here: a repeated "last" must start a new catalogue rather than add
  // its package a second time to a catalogue already (partly) finished.
  try {
    FinishAndSendCatalogue(session);
  } catch (...) {
    state.UploadInProgress = false;
    throw;
  }
  state.UploadInProgress = false;
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
    CreateCatalogueDatabase();
    UploadDatabaseFile(session, kCatalogueFileName, kCatalogueOnTerminal);
  }
  return true;
}

}  // namespace vtsd
