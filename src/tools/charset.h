#pragma once
// Decoding of legacy character sets into UTF-8, for text that other machines
// send (WHOIS replies). iconv does the work; it is glibc's and needs no
// system call.
//
// Pure functions, any thread.
#include <optional>
#include <string>
#include <string_view>

namespace tw::tools {

// `bytes` decoded from `charset` (an iconv name: "ISO-2022-JP-2", "EUC-JP",
// "SHIFT_JIS", "ISO-8859-1") into UTF-8. Strict: nullopt when the bytes are
// not valid in that character set or the set is unknown. Lenient: every byte
// that cannot be decoded becomes U+FFFD and decoding goes on after it
// (nullopt only for an unknown set).
std::optional<std::string> decode_to_utf8(std::string_view bytes, const char* charset, bool lenient = false);

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates).
bool is_valid_utf8(std::string_view bytes);

// `bytes` with every ill-formed UTF-8 sequence replaced by U+FFFD.
std::string repair_utf8(std::string_view bytes);

}  // namespace tw::tools
