// Feeds arbitrary history files to the tools' history reader, whole and in
// pieces cut where the input says (as a file of any size is read): both
// readings must give the same entries, at most the kept number, none longer
// than one read, none holding a line break or starting with a control byte.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/tool_history.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::tools;
  if (size < 2) return 0;
  // The first two bytes choose the piece size (1..512) and the current host's length.
  const std::size_t piece = 1 + ((std::size_t{data[0]} << 1 | (data[1] & 1)) % 512);
  const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string_view current = text.substr(0, data[1] >> 4);

  const auto whole = parse_history(text, current);
  HistoryParser parser(current);
  bool more = true;
  for (std::size_t pos = 0; more && pos < text.size(); pos += piece) more = parser.feed(text.substr(pos, piece));
  if (more) parser.finish();
  if (parser.entries() != whole) __builtin_trap();

  if (whole.size() > kMaxHistoryLines) __builtin_trap();
  for (const auto& e : whole) {
    if (e.empty() || e.size() > kMaxHistoryLineChars || e == current) __builtin_trap();
    if (e.find_first_of("\r\n") != std::string::npos) __builtin_trap();
    if (static_cast<unsigned char>(e[0]) < 0x20) __builtin_trap();
  }
  (void)format_history(whole);
  return 0;
}
