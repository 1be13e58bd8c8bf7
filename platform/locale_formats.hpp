// The current local date and time, written in the user's own formats.
#pragma once

#include <string>

namespace vtsd::platform {

struct LocalDateTimeText {
  std::string date;  // the user's short date format
  std::string time;  // the user's long time format
};

// Reads the local clock once and writes that one instant as the user's short
// date and long time. Windows: the user locale's formats (GetLocaleInfoW,
// GetDateFormatW, GetTimeFormatW). POSIX: the date and time formats of the
// environment's LC_TIME locale (nl_langinfo D_FMT and T_FMT).
LocalDateTimeText CurrentLocalDateTime();

}  // namespace vtsd::platform
