#include <iconv.h>

#include <cerrno>

#include "platform/codepage.hpp"

namespace vtsd::platform {

namespace {
// Owns one iconv descriptor.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) ::iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts the whole text; a sequence the target cannot hold (or an invalid
  // source sequence) becomes "?" and the conversion goes on after it.
  std::string Run(const std::string& in, bool source_is_utf8) {
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return in;
    char* src = const_cast<char*>(in.data());
    size_t src_left = in.size();
    char buffer[256];
    while (src_left > 0) {
      char* dst = buffer;
      size_t dst_left = sizeof buffer;
      const size_t r = ::iconv(cd_, &src, &src_left, &dst, &dst_left);
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (r != static_cast<size_t>(-1)) break;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: replace one source character.
      out.push_back('?');
      size_t skip = 1;
      if (source_is_utf8) {
        while (skip < src_left && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80) ++skip;
      }
      src += skip;
      src_left -= skip;
      ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t cd_;
};
}  // namespace

std::string Utf8ToAnsi(const std::string& utf8) {
  Converter c("WINDOWS-1251", "UTF-8");
  return c.Run(utf8, true);
}

std::string AnsiToUtf8(const std::string& ansi) {
  Converter c("UTF-8", "WINDOWS-1251");
  return c.Run(ansi, false);
}

}  // namespace vtsd::platform
