#include "catalogue/upload_state.hpp"

namespace vtsd {

UploadState& CatalogueUploadState() {
  static UploadState state;
  return state;
}

std::string& ActiveUploadTerminal() {
  static std::string terminal_id;
  return terminal_id;
}

std::map<std::string, UploadState>& WaitingUploads() {
  static std::map<std::string, UploadState> uploads;
  return uploads;
}

PackageFingerprint FingerprintOf(const char* text, size_t length) {
  // 64-bit FNV-1a: a rebuilt package that differs anywhere gives another
  // value, and one pass over the text costs little beside its import.
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < length; ++i) {
    hash ^= static_cast<unsigned char>(text[i]);
    hash *= 1099511628211ull;
  }
  return PackageFingerprint{length, hash};
}

}  // namespace vtsd
