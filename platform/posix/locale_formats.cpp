#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include "platform/locale_formats.hpp"

namespace vtsd::platform {

namespace {

// The environment's LC_TIME locale, held only for the call. A locale object
// keeps the process-wide locale untouched (the host may rely on it).
class TimeLocale {
 public:
  TimeLocale() : locale_(::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0))) {
    if (locale_ == static_cast<locale_t>(0))
      locale_ = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  }
  ~TimeLocale() {
    if (locale_ != static_cast<locale_t>(0)) ::freelocale(locale_);
  }
  TimeLocale(const TimeLocale&) = delete;
  TimeLocale& operator=(const TimeLocale&) = delete;

  std::string Format(nl_item item, const char* fallback, const struct tm& when) const {
    const char* format = fallback;
    if (locale_ != static_cast<locale_t>(0)) {
      const char* f = ::nl_langinfo_l(item, locale_);
      if (f != nullptr && *f != '\0') format = f;
    }
    char buffer[256];
    const size_t n = locale_ != static_cast<locale_t>(0)
                         ? ::strftime_l(buffer, sizeof buffer, format, &when, locale_)
                         : ::strftime(buffer, sizeof buffer, format, &when);
    return std::string(buffer, n);
  }

 private:
  locale_t locale_;
};

}  // namespace

LocalDateTimeText CurrentLocalDateTime() {
  const time_t now = ::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  const TimeLocale locale;
  LocalDateTimeText out;
  out.date = locale.Format(D_FMT, "%m/%d/%y", local);
  out.time = locale.Format(T_FMT, "%H:%M:%S", local);
  return out;
}

}  // namespace vtsd::platform
