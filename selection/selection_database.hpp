// The selection-task file "Podbor.db": its creation and the statement texts
// that create and remove one task's tables.
#pragma once

#include <string>

namespace vtsd {

// Deletes TempDir + "Podbor.db" when present and creates it anew with the
// empty Registry table and its index. Returns true; raises DriverError with
// the deletion, creation or tables message otherwise.
bool CreateSelectionDatabase();

}  // namespace vtsd
