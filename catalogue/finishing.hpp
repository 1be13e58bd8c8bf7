// Finishing the catalogue after its last package has been imported: squeezing
// the empty Field columns out of Articule, writing the package-unit barcodes,
// and writing the field captions into the terminal's settings database.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/messages.hpp"

namespace vtsd {

// One caption per column Field_2 ... Field_9 (slot 0 is Field_2). An empty
// slot is a column in use that holds no value and so has no caption.
using FieldCaptionTable = std::array<std::string, 8>;

// The process-wide captions that DropEmptyColumns decides and
// UpdateFieldCaptions writes.
FieldCaptionTable& FieldCaptions();
// The eight default captions (the terminal application's field names).
FieldCaptionTable DefaultFieldCaptions();

// Rebuilds Articule in TempDir + "Merxa.db" so that the Field columns holding
// a value in at least one row come first, in their order and without gaps.
// Sets FieldCaptions and renumbers CoefficientColumn; when the coefficient
// column holds no value at all, the upload is left without packages.
void DropEmptyColumns();

// Writes one Barcodes row for every package record (coefficient text above
// "1") whose name has exactly one base record (coefficient 0, or failing
// that coefficient 1). Returns true.
bool FillPackageBarcodes();

// The settings table of the terminal application named by a version text:
// "Merxa_" + its 1st character + "_" + its 3rd, 4th and 5th. Empty when the
// text has fewer than five characters, or when one of those is not an ASCII
// letter, digit, point or underscore.
std::string SettingsTableName(const std::string& app_version);

// Writes FieldCaptions and the attribute numbers of the price and the name
// into TempDir + "MerxaSetup.db", in the table that the version text names.
// Returns true.
bool UpdateFieldCaptions(const std::string& app_version);

// The statement that copies Articule into TimeTable keeping only the listed
// old Field column numbers, moved to Field_2, Field_3, ... in their order.
std::string ColumnSqueezeStatement(const std::vector<int>& kept_columns);
// "UPDATE <table> SET value='<value>' WHERE parameter ='<parameter>'".
std::string SettingUpdateStatement(const std::string& table, const std::string& value,
                                   const std::string& parameter);

namespace finishing_text {
extern const Msg kCatalogueOpen;
extern const Msg kDropEmptyColumns;
extern const Msg kPackagesFileMissing;
extern const Msg kPackagesOpen;
extern const Msg kPackagesFill;
extern const Msg kSettingsMissing;
extern const Msg kSettingsOpen;
extern const Msg kSettingsUpdate;
}  // namespace finishing_text

}  // namespace vtsd
