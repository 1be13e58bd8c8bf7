// The selection task and document download driver methods.
#pragma once

#include "base/params.hpp"

namespace vtsd {

void HandleUnloadTaskForSelection(MethodCall& call);
void HandleDownloadTable(MethodCall& call);

}  // namespace vtsd
