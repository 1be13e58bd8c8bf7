// UTF-8 <-> UTF-16 for the Windows boundary: COM texts (BSTR) and the wide
// Win32 API. Portable, so the conversion rules are tested on every platform.
#pragma once

#include <cstddef>
#include <string>

namespace vtsd::platform {

// A malformed UTF-8 sequence (stray continuation byte, truncated or overlong
// sequence, encoded surrogate, value above U+10FFFF) becomes U+FFFD.
std::u16string Utf16FromUtf8(const std::string& utf8);

// A lone surrogate (high without low, low without high) becomes U+FFFD; a
// valid pair becomes one four-byte sequence.
std::string Utf8FromUtf16(const char16_t* text, size_t length);
inline std::string Utf8FromUtf16(const std::u16string& text) {
  return Utf8FromUtf16(text.data(), text.size());
}

}  // namespace vtsd::platform
