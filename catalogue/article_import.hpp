// Import of one package of the article table into the catalogue file.
#pragma once

#include <string>

namespace vtsd {

// Parses the package (XML, UTF-8) and appends one row of Articule in
// TempDir + "Merxa.db" per "/Table/Record" element that has attributes, all
// in one transaction: the attribute at position 1 goes to Articule, the one
// at position p to Field_p. Updates HighestFieldIndex, PackagesPresent and
// CoefficientColumn of the upload state. A package either lands whole, with
// its state updates, or leaves file and state as they were. Returns true;
// raises DriverError with the XML, open or insert message otherwise.
//
// The text is taken by value so that a caller that no longer needs it can
// move it in and the package is parsed in place without a copy.
bool ImportArticleTable(std::string table_text);

}  // namespace vtsd
