#include "settings/int_parse.h"

#include <cstdint>
#include <limits>

namespace tw::settings {

namespace {

bool is_c_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

int parse_profile_int(std::string_view text) {
  std::size_t i = 0;
  // The Windows parser skips every control character and the space.
  while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::uint32_t total = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    total = total * 10u + static_cast<std::uint32_t>(text[i] - '0');
  }
  if (negative) total = 0u - total;
  return static_cast<int>(total);  // two's complement: modulo 2^32
}

std::optional<int> parse_c_int(std::string_view text, std::size_t& pos) {
  std::size_t i = pos;
  while (i < text.size() && is_c_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;

  unsigned base = 10;
  if (text[i] == '0') {
    ++i;
    if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
      base = 16;
      ++i;
    } else {
      base = 8;
    }
  }
  // strtol semantics on a 64-bit long: saturate, then the int store keeps the
  // low 32 bits.
  constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int64_t>::max();
  constexpr std::uint64_t kMaxNegative = kMaxPositive + 1;
  const std::uint64_t limit = negative ? kMaxNegative : kMaxPositive;
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (; i < text.size(); ++i) {
    const int d = digit_value(text[i]);
    if (d >= static_cast<int>(base)) break;
    if (!overflow) {
      if (magnitude > (limit - static_cast<unsigned>(d)) / base) {
        overflow = true;
        magnitude = limit;
      } else {
        magnitude = magnitude * base + static_cast<unsigned>(d);
      }
    }
  }
  pos = i;
  const std::uint64_t as_bits = negative ? std::uint64_t{0} - magnitude : magnitude;
  return static_cast<int>(static_cast<std::uint32_t>(as_bits));
}

}  // namespace tw::settings
