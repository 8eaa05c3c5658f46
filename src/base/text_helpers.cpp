#include "base/text_helpers.h"

#include <cstdarg>
#include <cstdio>

namespace tw::detail {

std::string sformat(const char* fmt, ...) {
  // Nearly every text fits the stack buffer; only a long label pays for the
  // second pass into a buffer of the exact size.
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof buf) return std::string(buf, static_cast<std::size_t>(n));
  std::string out(static_cast<std::size_t>(n), '\0');
  va_start(ap, fmt);
  std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
  va_end(ap);
  return out;
}

std::string without_control_chars(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  auto byte = [&](std::size_t i) { return i < value.size() ? static_cast<unsigned char>(value[i]) : 0u; };
  for (std::size_t i = 0; i < value.size(); ++i) {
    const unsigned u = byte(i);
    if (u == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
      ++i;  // a C1 control in UTF-8 (U+0085 NEL ends a line for some readers)
      out += '?';
    } else if (u == 0xE2 && byte(i + 1) == 0x80 && (byte(i + 2) == 0xA8 || byte(i + 2) == 0xA9)) {
      i += 2;  // U+2028 LINE SEPARATOR, U+2029 PARAGRAPH SEPARATOR
      out += '?';
    } else {
      out += u < 0x20 || u == 0x7F ? '?' : value[i];
    }
  }
  return out;
}

}  // namespace tw::detail
