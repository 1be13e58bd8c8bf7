// The selection task and document download driver methods.
#pragma once

#include "addin/params.hpp"

namespace vtsd {

void HandleUnloadTaskForSelection(MethodCall& call);
void HandleDownloadTable(MethodCall& call);

}  // namespace vtsd
