#pragma once
// Integer texts of the settings file. Two parsers exist because the file has
// two kinds of integers: single values, read the way the Windows private-profile
// call reads them (decimal only), and ":"-joined lists, read the way C's
// sscanf("%i") reads them (hex and octal prefixes allowed).
#include <cstddef>
#include <optional>
#include <string_view>

namespace tw::settings {

// Single integer value: leading blanks, an optional '+' or '-', then the
// leading decimal digits; anything after them is ignored and no digits at all
// give 0. Out-of-range values wrap modulo 2^32 (the digits are accumulated in an
// unsigned 32-bit register and negated afterwards), so "4294967295" reads as -1
// and "2147483648" as INT_MIN, exactly as a value written by a 32-bit reader of
// the same file would come back.
int parse_profile_int(std::string_view text);

// One "%i" field starting at `pos`: leading white space, optional sign, then
// "0x"/"0X" + hex digits, "0" + octal digits, or decimal digits. Returns
// nullopt (pos unchanged) when no number starts there. On success `pos` is
// moved past the field. Out-of-range values saturate at the 64-bit limits and
// are then cut to the low 32 bits, as glibc's scanf stores them into an int.
// A bare "0x" is read as 0 with the "x" consumed, as glibc does.
std::optional<int> parse_c_int(std::string_view text, std::size_t& pos);

}  // namespace tw::settings
