// The article-table import on any text, into a fresh local catalogue
// database in a scratch TempDir: it either imports or fails with a coded
// message.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "addin/messages.hpp"
#include "addin/temp_dir.hpp"
#include "catalogue/article_import.hpp"
#include "catalogue/catalogue_database.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/vtsd-fuzz-import-XXXXXX";
  if (!::mkdtemp(dir)) std::abort();
  vtsd::SetTempDir(std::string(dir) + "/");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(vtsd::TempDir(), ignored))
    std::filesystem::remove(entry.path(), ignored);
  if (!vtsd::CreateCatalogueDatabase()) std::abort();
  try {
    vtsd::ImportArticleTable(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const vtsd::DriverError& e) {
    if (e.text().size() < 2 || vtsd::CodeOfMark(e.text()) < 0) __builtin_trap();
  }
  return 0;
}
