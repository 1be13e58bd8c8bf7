#include "catalogue/upload_state.hpp"

namespace vtsd {

UploadState& CatalogueUploadState() {
  static UploadState state;
  return state;
}

}  // namespace vtsd
