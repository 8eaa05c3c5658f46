// Log templates and the values put into them come from the settings file, the
// network (host names, packet payloads) and the statistics. Whatever they hold,
// expansion must end, stay within its limits and keep stored templates on one
// line.
//
// Input: fields separated by 0x01 bytes. Field 0 is the template; the next
// fields fill the entry values in the order of the variables (all but the date
// and time) and then serve as name/value pairs, for the entry values (any
// name) and for the generic expander.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "logging/template.h"

namespace {

std::vector<std::string_view> split(std::string_view in) {
  std::vector<std::string_view> out;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= in.size(); ++i) {
    if (i == in.size() || in[i] == '\x01') {
      out.push_back(in.substr(from, i - from));
      from = i + 1;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tw::logging;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> f = split(input);
  const std::string_view tmpl = f[0];
  f.erase(f.begin());

  std::size_t next = 0;
  auto take = [&]() -> std::string_view { return next < f.size() ? f[next++] : std::string_view{}; };

  EntryValues v;
  for (std::size_t i = kDateVariableCount; i < kEntryVariables.size(); ++i) {
    if (!v.set(kEntryVariables[i], std::string(take()))) std::abort();
  }

  // The date fields come from the input too: any int must format safely.
  tw::platform::LocalTime when;
  if (size >= 6 * sizeof(int)) {
    int fields[6];
    std::memcpy(fields, data + size - sizeof fields, sizeof fields);
    when = {fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]};
  }
  const DateTexts date = date_texts(when);

  const std::string entry = expand_entry(tmpl, date, v);
  if (entry.size() > kMaxEntryLength) std::abort();

  const std::string name = expand_file_name(tmpl, date);
  // Date texts of a sane time are never longer than their names.
  const bool sane = date.yyyy.size() == 4 && date.yy.size() == 2 && date.mm.size() == 2 &&
                    date.dd.size() == 2 && date.hh.size() == 2 && date.mi.size() == 2 &&
                    date.ss.size() == 2;
  if (sane && name.size() > tmpl.size()) std::abort();

  std::vector<Variable> vars;
  while (next + 1 < f.size()) {
    const std::string_view n = take();
    vars.push_back({n, take()});
    v.set(n, std::string(vars.back().value));
  }
  if (expand_entry(tmpl, date, v).size() > kMaxEntryLength) std::abort();
  constexpr std::size_t kSmallCeiling = 1 << 16;
  if (expand_variables(tmpl, vars, kSmallCeiling).size() > kSmallCeiling) std::abort();

  const std::string stored = template_to_stored(template_from_stored(tmpl));
  if (stored.find_first_of("\r\n") != std::string::npos) std::abort();
  return 0;
}
