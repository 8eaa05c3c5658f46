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
  std::string out(value);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = '?';
  }
  return out;
}

}  // namespace tw::detail
