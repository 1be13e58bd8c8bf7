// Conversions between the driver's UTF-8 texts and the ANSI code page that
// request texts travel in: the system's code page on Windows, Windows-1251 on
// POSIX. Characters the target cannot hold become "?".
#pragma once

#include <string>

namespace vtsd::platform {

std::string Utf8ToAnsi(const std::string& utf8);
std::string AnsiToUtf8(const std::string& ansi);

}  // namespace vtsd::platform
