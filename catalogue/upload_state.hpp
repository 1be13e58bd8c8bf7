// Process-wide state of a catalogue upload, carried from one UploadTable call
// to the next and shared by every component object of the process. Touched
// only on the host's calling thread.
#pragma once

namespace vtsd {

struct UploadState {
  // A catalogue has been created and awaits its "last" package.
  bool UploadInProgress = false;
  // Largest zero-based attribute position seen in any imported record: the
  // Field columns in use are Field_2 up to Field_(HighestFieldIndex + 1).
  int HighestFieldIndex = 0;
  // Some record had an attribute named "Coefficient".
  bool PackagesPresent = false;
  // Position (from 1) of the last "Coefficient" attribute seen, which is the
  // number N of its column Field_N.
  int CoefficientColumn = 0;
};

UploadState& CatalogueUploadState();

}  // namespace vtsd
