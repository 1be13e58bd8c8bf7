#include "base/messages.hpp"

#include <atomic>

namespace vtsd {

namespace {
// Read by the listener thread while the host thread waits, hence atomic.
std::atomic<Language> g_language{Language::Russian};
std::string g_reported_error_text;

constexpr Msg kUnknownError{"Ошибка не известна.", "The error is not known."};

struct Mark {
  const char* text;
  int32_t code;
};
// Tested in this order; "№" is U+2116, three bytes in UTF-8.
constexpr Mark kMarks[] = {{"1", 1}, {"2", 2}, {"3", 3}, {"4", 4},   {"5", 5},   {"6", 6},
                           {"7", 7}, {"8", 8}, {"9", 9}, {"*", 10}, {"~", 11}, {"№", 12}};
}  // namespace

Language GetMessageLanguage() { return g_language.load(); }
void SetMessageLanguage(Language language) { g_language.store(language); }

std::string Msg::Text() const { return Text(GetMessageLanguage()); }

void Raise(const Msg& msg) { throw DriverError(msg.Text()); }
void RaiseText(std::string text) { throw DriverError(std::move(text)); }

const std::string& GetReportedErrorText() { return g_reported_error_text; }
void SetReportedErrorText(std::string text) { g_reported_error_text = std::move(text); }

namespace {
size_t MarkLength(const std::string& text, int32_t* code) {
  for (const Mark& m : kMarks) {
    const std::string mark(m.text);
    if (text.compare(0, mark.size(), mark) == 0) {
      if (code) *code = m.code;
      return mark.size();
    }
  }
  return 0;
}

// Number of UTF-16 units the UTF-8 text would take, counted only up to two.
size_t CountCharacters(const std::string& text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size() && n < 2; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) != 0x80) n += (c >= 0xF0) ? 2 : 1;
  }
  return n;
}
}  // namespace

int32_t CodeOfMark(const std::string& text) {
  int32_t code = -1;
  return MarkLength(text, &code) ? code : -1;
}

ErrorReport MapReportedError(const std::string& text, Language language) {
  ErrorReport report;
  int32_t code = 0;
  if (size_t len = MarkLength(text, &code)) {
    report.code = code;
    report.description = text.substr(len);
  } else if (CountCharacters(text) <= 1) {
    report.code = 0;
  } else {
    report.code = 66;
    report.description = kUnknownError.Text(language);
  }
  return report;
}

}  // namespace vtsd
