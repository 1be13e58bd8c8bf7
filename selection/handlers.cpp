// Handlers of the selection-task and document methods. This build has no
// selection support yet: each method fails with its coded message instead of
// pretending to succeed.
#include "addin/messages.hpp"
#include "addin/subsystems.hpp"

namespace vtsd {

namespace {
const Msg kTaskUnavailable{"7Выгрузка задачи для подбора недоступна в этой сборке драйвера.",
                           "7Uploading a selection task is unavailable in this build of the driver."};
const Msg kDownloadUnavailable{"6Загрузка таблицы недоступна в этой сборке драйвера.",
                               "6Downloading a table is unavailable in this build of the driver."};
}  // namespace

void HandleUnloadTaskForSelection(MethodCall&) { Raise(kTaskUnavailable); }
void HandleDownloadTable(MethodCall&) { Raise(kDownloadUnavailable); }

}  // namespace vtsd
