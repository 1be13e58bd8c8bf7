#include "catalogue/upload.hpp"

#include <utility>

#include "catalogue/article_import.hpp"
#include "catalogue/catalogue_database.hpp"
#include "catalogue/finishing.hpp"
#include "catalogue/upload_state.hpp"
#include "link/device_test.hpp"
#include "link/remote_files.hpp"

namespace vtsd {

namespace upload_text {
const Msg kUnsupportedVersionStart{"5Ваша версия Merxa ", "5Your version Merxa "};
const Msg kUnsupportedVersionEnd{" Не поддерживается.", " is not supported."};
}  // namespace upload_text

namespace {

constexpr const char* kSettingsFileName = "MerxaSetup.db";

// The terminal connection a device ID names (the ID is the socket's value).
platform::SocketHandle DeviceFromId(int32_t device_id) {
  return static_cast<platform::SocketHandle>(static_cast<uint32_t>(device_id));
}

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
void FinishAndSendCatalogue(int32_t device_id) {
  UploadState& state = CatalogueUploadState();
  DropEmptyColumns();
  if (state.PackagesPresent) {
    FillPackageBarcodes();
    state.PackagesPresent = false;
  }
  SyncFieldCaptions(device_id);
  UploadDatabaseFile(DeviceFromId(device_id), kCatalogueFileName, kCatalogueFileName);
}

}  // namespace

bool UpdateFieldCaptions() { return UpdateFieldCaptions(AppVersionText()); }

bool SyncFieldCaptions(int32_t device_id) {
  const platform::SocketHandle device = DeviceFromId(device_id);
  DownloadDatabaseFile(device, kSettingsFileName, kSettingsFileName);
  UpdateFieldCaptions();
  UploadDatabaseFile(device, kSettingsFileName, kSettingsFileName);
  return true;
}

bool UploadCatalogue(int32_t device_id, std::string table_text, const std::string& package_status) {
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
    FinishAndSendCatalogue(device_id);
  } catch (...) {
    state.UploadInProgress = false;
    throw;
  }
  state.UploadInProgress = false;
  return true;
}

bool UploadTableOperation(int32_t device_id, std::string table_text, const std::string& package_status) {
  const std::string version = QueryAppVersion(DeviceFromId(device_id));
  if (!SupportedVersion(version)) {
    RaiseText(upload_text::kUnsupportedVersionStart.Text() + version + upload_text::kUnsupportedVersionEnd.Text());
  }
  return UploadCatalogue(device_id, std::move(table_text), package_status);
}

bool ClearTableOperation(int32_t device_id) {
  const platform::SocketHandle device = DeviceFromId(device_id);
  if (SupportedVersion(QueryAppVersion(device))) {
    CreateCatalogueDatabase();
    UploadDatabaseFile(device, kCatalogueFileName, kCatalogueFileName);
  }
  return true;
}

}  // namespace vtsd
