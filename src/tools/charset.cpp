#include "tools/charset.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <memory>

namespace tw::tools {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

// Length of the well-formed UTF-8 sequence at `i`, 0 when ill-formed.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned c = b(i);
  if (c < 0x80) return 1;
  std::size_t n;
  unsigned lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  else if (c == 0xE0) n = 3, lo = 0xA0;
  else if (c == 0xED) n = 3, hi = 0x9F;  // no surrogates
  else if (c >= 0xE1 && c <= 0xEF) n = 3;
  else if (c == 0xF0) n = 4, lo = 0x90;
  else if (c >= 0xF1 && c <= 0xF3) n = 4;
  else if (c == 0xF4) n = 4, hi = 0x8F;
  else return 0;
  if (i + n > s.size()) return 0;
  if (b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < n; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  return n;
}

}  // namespace

std::optional<std::string> decode_to_utf8(std::string_view bytes, const char* charset, bool lenient) {
  const iconv_t raw = iconv_open("UTF-8", charset);
  if (raw == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  const std::unique_ptr<void, IconvCloser> cd(raw);
  std::string out;
  char buf[4096];
  char* in = const_cast<char*>(bytes.data());  // iconv's API is not const-correct
  std::size_t in_left = bytes.size();
  for (;;) {
    char* o = buf;
    std::size_t o_left = sizeof buf;
    // With no input left, one more call with a null input writes what a
    // stateful set (ISO-2022-JP) still holds back.
    const bool flush_call = in_left == 0;
    const std::size_t r =
        flush_call ? iconv(raw, nullptr, nullptr, &o, &o_left) : iconv(raw, &in, &in_left, &o, &o_left);
    const int err = errno;
    out.append(buf, static_cast<std::size_t>(o - buf));
    if (r != static_cast<std::size_t>(-1)) {
      if (flush_call) break;
      continue;
    }
    if (err == E2BIG) continue;
    // EILSEQ (a byte not valid here) or EINVAL (input ends inside a character).
    if (!lenient || flush_call) return lenient ? std::optional<std::string>(out) : std::nullopt;
    out += kReplacement;
    ++in;
    --in_left;
  }
  return out;
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = utf8_sequence(bytes, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string repair_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = utf8_sequence(bytes, i);
    if (n == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace tw::tools
