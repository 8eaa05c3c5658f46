// Feeds arbitrary WHOIS replies to the converter: it must never crash or hang,
// and what it gives the output box must be valid UTF-8 with CR LF line ends.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/charset.h"
#include "tools/whois.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::tools;
  const std::string_view reply(reinterpret_cast<const char*>(data), size);
  for (const char* target : {"example.com", "example.co.jp"}) {
    const std::string out = convert_whois_reply(reply, target);
    if (!is_valid_utf8(out)) __builtin_trap();
    for (std::size_t i = 0; i < out.size(); ++i)
      if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) __builtin_trap();
  }
  return 0;
}
