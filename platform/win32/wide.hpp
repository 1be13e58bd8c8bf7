// UTF-8 texts of the driver <-> the UTF-16 texts of the Win32 API and COM.
#pragma once

#include <string>

#include "platform/utf16.hpp"

namespace vtsd::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

inline std::wstring Widen(const std::string& utf8) {
  const std::u16string u = Utf16FromUtf8(utf8);
  return std::wstring(u.begin(), u.end());
}

inline std::string Narrow(const wchar_t* text, size_t length) {
  return Utf8FromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

inline std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }

}  // namespace vtsd::platform
