#include <windows.h>

#include <string>

#include "platform/locale_formats.hpp"
#include "platform/win32/wide.hpp"

namespace vtsd::platform {

namespace {

// One of the user locale's format pictures (short date or long time), or
// null to let the formatting call use the locale's default of that kind.
std::wstring UserFormat(LCTYPE type) {
  wchar_t buffer[100];
  const int n = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 100);
  return n > 1 ? std::wstring(buffer, static_cast<size_t>(n - 1)) : std::wstring();
}

std::string FormatDate(const SYSTEMTIME& when) {
  const std::wstring format = UserFormat(LOCALE_SSHORTDATE);
  const wchar_t* picture = format.empty() ? nullptr : format.c_str();
  const DWORD flags = picture ? 0 : DATE_SHORTDATE;
  wchar_t buffer[128];
  const int n = ::GetDateFormatW(LOCALE_USER_DEFAULT, flags, &when, picture, buffer, 128);
  return n > 1 ? Narrow(buffer, static_cast<size_t>(n - 1)) : std::string();
}

std::string FormatTime(const SYSTEMTIME& when) {
  const std::wstring format = UserFormat(LOCALE_STIMEFORMAT);
  const wchar_t* picture = format.empty() ? nullptr : format.c_str();
  wchar_t buffer[128];
  const int n = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &when, picture, buffer, 128);
  return n > 1 ? Narrow(buffer, static_cast<size_t>(n - 1)) : std::string();
}

}  // namespace

LocalDateTimeText CurrentLocalDateTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  LocalDateTimeText out;
  out.date = FormatDate(now);
  out.time = FormatTime(now);
  return out;
}

}  // namespace vtsd::platform
