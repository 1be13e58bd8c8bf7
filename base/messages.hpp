// Messages and error codes: the language switch, the one failure kind of the
// driver, the text of the last failure and the mapping of its code mark to
// the number that GetLastError reports.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace vtsd {

enum class Language { Russian, English };

// Process-wide switch that chooses every message, caption and button text.
Language GetMessageLanguage();
void SetMessageLanguage(Language language);

// A Russian/English pair of one user-visible text. The two texts of a failure
// message begin with the same code mark.
struct Msg {
  const char* ru;
  const char* en;
  // The text in the current MessageLanguage.
  std::string Text() const;
  std::string Text(Language language) const { return language == Language::Russian ? ru : en; }
};

// The one failure kind of the driver: a message text whose first character is
// its code mark.
class DriverError : public std::exception {
 public:
  explicit DriverError(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// Raises the message in the current language.
[[noreturn]] void Raise(const Msg& msg);
// Raises a composed text (fixed pieces already chosen by the caller).
[[noreturn]] void RaiseText(std::string text);

// The text of the last failure caught at the host boundary, mark first.
const std::string& GetReportedErrorText();
void SetReportedErrorText(std::string text);

struct ErrorReport {
  int32_t code = 0;
  std::string description;
};

// GetLastError's mapping of a reported text: a leading mark gives its code and
// the rest of the text; one character or less gives code 0; any other text
// gives 66 with "the error is not known" in the language given.
ErrorReport MapReportedError(const std::string& text, Language language);

// Code of a mark at the start of the text, or -1 when the text has none.
int32_t CodeOfMark(const std::string& text);

}  // namespace vtsd
