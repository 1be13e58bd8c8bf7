// Entry points that the component frame calls in the other subsystems: the
// handlers of the terminal and table methods, and the process-wide state
// those subsystems own that Init resets and Done releases.
#pragma once

#include "addin/params.hpp"

namespace vtsd {

// link/: the terminal connection and the device test.
void HandleOpen(MethodCall& call);
void HandleClose(MethodCall& call);
void HandleDeviceTest(MethodCall& call);
// Init: forget the listener reference (an existing listener is not touched).
void ResetLinkOnInit();
// Done: ask a remaining listener to end, wait for it and free it.
void ReleaseListenerOnDone();

// catalogue/: the catalogue upload and clear.
void HandleUploadTable(MethodCall& call);
void HandleClearTable(MethodCall& call);
// Init: PackagesPresent := false.
void ResetCatalogueOnInit();

// selection/: selection tasks and the document download.
void HandleUnloadTaskForSelection(MethodCall& call);
void HandleDownloadTable(MethodCall& call);

}  // namespace vtsd
