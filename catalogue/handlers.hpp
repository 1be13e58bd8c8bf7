// The catalogue's driver methods and what component initialisation does to
// the catalogue upload.
#pragma once

#include "base/params.hpp"

namespace vtsd {

void HandleUploadTable(MethodCall& call);
void HandleClearTable(MethodCall& call);
// Init: PackagesPresent := false unless an upload is in progress.
void ResetCatalogueOnInit();

}  // namespace vtsd
