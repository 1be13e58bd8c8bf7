// Handlers of the catalogue methods. This build has no catalogue upload yet:
// each method fails with its coded message instead of pretending to succeed.
#include "addin/messages.hpp"
#include "addin/subsystems.hpp"
#include "catalogue/upload_state.hpp"

namespace vtsd {

namespace {
const Msg kUploadUnavailable{"5Выгрузка таблицы недоступна в этой сборке драйвера.",
                             "5Uploading a table is unavailable in this build of the driver."};
const Msg kClearUnavailable{"~Очистка таблицы недоступна в этой сборке драйвера.",
                            "~Clearing the table is unavailable in this build of the driver."};
}  // namespace

void HandleUploadTable(MethodCall&) { Raise(kUploadUnavailable); }
void HandleClearTable(MethodCall&) { Raise(kClearUnavailable); }
void ResetCatalogueOnInit() { CatalogueUploadState().PackagesPresent = false; }

}  // namespace vtsd
