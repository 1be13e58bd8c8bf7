// The link's driver methods and what component initialisation and
// unloading do to the terminal session.
#pragma once

#include "base/params.hpp"

namespace vtsd {

void HandleOpen(MethodCall& call);
void HandleClose(MethodCall& call);
void HandleDeviceTest(MethodCall& call);
// Init: forget the listener reference (an existing listener is not touched).
void ResetLinkOnInit();
// Done: ask a remaining listener to end, wait for it and free it.
void ReleaseListenerOnDone();

}  // namespace vtsd
