// The article-table import on any text, into an empty catalogue database in
// a scratch TempDir in memory: it either imports or fails with a coded
// message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/messages.hpp"
#include "catalogue/article_import.hpp"
#include "catalogue/catalogue_database.hpp"
#include "catalogue/upload_state.hpp"
#include "tests/fuzz/scratch_image.hpp"

namespace {
std::unique_ptr<vtsd::fuzz::ScratchImage> catalogue;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  catalogue = std::make_unique<vtsd::fuzz::ScratchImage>("import", vtsd::kCatalogueFileName, [] {
    if (!vtsd::CreateCatalogueDatabase()) std::abort();
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  catalogue->Restore();
  vtsd::CatalogueUploadState() = vtsd::UploadState{};
  try {
    vtsd::ImportArticleTable(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const vtsd::DriverError& e) {
    if (e.text().size() < 2 || vtsd::CodeOfMark(e.text()) < 0) __builtin_trap();
  }
  return 0;
}
