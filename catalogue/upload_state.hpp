// Process-wide state of a catalogue upload, carried from one UploadTable call
// to the next and shared by every component object of the process. Touched
// only on the host's calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace vtsd {

// The steps that finish a catalogue once its last package is imported, in
// their order. A "last" that fails keeps the step it had reached, so that the
// same "last" again runs only the steps still to do.
enum class FinishStep { Squeeze, Barcodes, Captions, Send };

// What identifies the text of a package: a repeated "last" with the same
// text is the same package.
struct PackageFingerprint {
  size_t length = 0;
  uint64_t hash = 0;
  bool operator==(const PackageFingerprint& other) const {
    return length == other.length && hash == other.hash;
  }
};

struct UploadState {
  // A catalogue has been created and awaits its "last" package, or the
  // finishing of a "last" that failed.
  bool UploadInProgress = false;
  // Largest zero-based attribute position seen in any imported record: the
  // Field columns in use are Field_2 up to Field_(HighestFieldIndex + 1).
  int HighestFieldIndex = 0;
  // Some record had an attribute named "Coefficient".
  bool PackagesPresent = false;
  // Position (from 1) of the last "Coefficient" attribute seen, which is the
  // number N of its column Field_N.
  int CoefficientColumn = 0;

  // The upload in progress began with "first": its catalogue holds packages
  // of earlier calls.
  bool begun_with_first = false;
  // ClearTable ended an upload that had begun with "first": its later
  // packages ("regular", "last") are refused until a "first" starts anew.
  bool ended_by_clear = false;

  // The last package is in the catalogue and `next_step` is the first
  // finishing step not yet done; `last_package` is the text it came from.
  bool last_imported = false;
  FinishStep next_step = FinishStep::Squeeze;
  PackageFingerprint last_package;

  // The package columns as they were before the last package was imported,
  // kept with the copy of the catalogue of the earlier packages.
  int earlier_highest_field_index = 0;
  bool earlier_packages_present = false;
  int earlier_coefficient_column = 0;
};

// The upload of the terminal the current call is for.
UploadState& CatalogueUploadState();

// An upload belongs to the terminal it began on. The one in
// CatalogueUploadState is that of the terminal whose identifier
// ActiveUploadTerminal holds; the uploads of other terminals wait here under
// their identifiers, each with its catalogue files set aside in TempDir.
std::string& ActiveUploadTerminal();
std::map<std::string, UploadState>& WaitingUploads();

// The fingerprint of a package's text.
PackageFingerprint FingerprintOf(const char* text, size_t length);

}  // namespace vtsd
