// The catalogue file "Merxa.db" that the terminal application reads: its
// schema and its creation.
#pragma once

namespace vtsd {

// Name of the catalogue file in TempDir.
inline constexpr const char* kCatalogueFileName = "Merxa.db";
// The terminal application's settings file, which holds the field captions.
inline constexpr const char* kSettingsFileName = "MerxaSetup.db";

// Deletes TempDir + "Merxa.db" when present and creates it anew, empty, with
// the tables Articule, Articule_Fields and Barcodes and their indexes.
// Returns true; raises DriverError with the deletion, creation or tables
// message otherwise. A file that cannot be deleted is left as it was.
bool CreateCatalogueDatabase();

}  // namespace vtsd
