#include <windows.h>

#include "platform/codepage.hpp"

namespace vtsd::platform {

namespace {
std::wstring Widen(const std::string& text, UINT codepage) {
  if (text.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(codepage, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (n > 0)
    ::MultiByteToWideChar(codepage, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string Narrow(const std::wstring& wide, UINT codepage) {
  if (wide.empty()) return std::string();
  // The default character "?" replaces what the code page cannot hold (the
  // UTF-8 code page accepts no default character and needs none).
  const char* fallback = codepage == CP_UTF8 ? nullptr : "?";
  const int n = ::WideCharToMultiByte(codepage, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, fallback, nullptr);
  std::string text(static_cast<size_t>(n), '\0');
  if (n > 0)
    ::WideCharToMultiByte(codepage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n,
                          fallback, nullptr);
  return text;
}
}  // namespace

std::string Utf8ToAnsi(const std::string& utf8) { return Narrow(Widen(utf8, CP_UTF8), CP_ACP); }
std::string AnsiToUtf8(const std::string& ansi) { return Narrow(Widen(ansi, CP_ACP), CP_UTF8); }

}  // namespace vtsd::platform
