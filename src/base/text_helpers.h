#pragma once
// Helpers of the logic's text builders: the printf-to-string helper, the
// duration unit words and the cleaning of foreign text. The views go through
// format.h and friends.
#include <string>
#include <string_view>

#include "base/language.h"

namespace tw::detail {

// snprintf into a std::string, of any length. The visible texts are defined
// by their printf formats, so the formatters keep them as printf strings
// instead of composing with streams.
[[gnu::format(printf, 1, 2)]] std::string sformat(const char* fmt, ...);

// The unit words of a duration ("1day  2h 03m 04s" / "1日  2時間 03分 04秒").
struct UnitWords {
  const char* day;
  const char* hour;
  const char* minute;
  const char* second;
};
inline constexpr UnitWords kUnitWordsEn{"day", "h", "m", "s"};
inline constexpr UnitWords kUnitWordsJa{"日", "時間", "分", "秒"};
inline const UnitWords& unit_words(Language lang) { return pick(lang, kUnitWordsEn, kUnitWordsJa); }

// Text from the kernel, other programs or their files (an interface alias, a
// resolver domain, a process or host name) may hold any byte; a control
// character would break the line structure of the reports, logs and lists it
// ends up in (or forge lines there), so each one becomes '?': C0 and DEL,
// the C1 controls and the Unicode line and paragraph separators in UTF-8.
std::string without_control_chars(std::string_view value);

}  // namespace tw::detail
