#include "logging/template.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <utility>

namespace tw::logging {

namespace {

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Appends `piece` to `out` but never beyond `limit` bytes. False once full.
bool append_bounded(std::string& out, std::string_view piece, std::size_t limit) {
  if (out.size() >= limit) return false;
  const std::size_t room = limit - out.size();
  if (piece.size() > room) {
    out.append(piece.substr(0, room));
    return false;
  }
  out.append(piece);
  return true;
}

std::string two_digits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

void truncate_utf8(std::string& text, std::size_t max_size) {
  if (text.size() <= max_size) return;
  std::size_t cut = max_size;
  // A UTF-8 sequence is at most four bytes: step back over at most three
  // continuation bytes to the start of the character that would be split. In
  // text that is not UTF-8 at all, just cut at the limit.
  for (int back = 0; back < 3 && cut > 0 && is_continuation(text[cut]); ++back) --cut;
  if (is_continuation(text[cut])) cut = max_size;
  text.resize(cut);
}

std::string expand_variables(std::string_view text, std::span<const Variable> vars,
                             std::size_t max_size) {
  std::string current(text.substr(0, std::min(text.size(), max_size)));
  truncate_utf8(current, max_size);
  std::string next;
  for (const Variable& var : vars) {
    if (var.name.empty()) continue;  // would match everywhere and never advance
    std::size_t pos = current.find(var.name);
    if (pos == std::string::npos) continue;
    next.clear();
    std::size_t from = 0;
    bool room = true;
    while (pos != std::string::npos && room) {
      room = append_bounded(next, std::string_view(current).substr(from, pos - from), max_size) &&
             append_bounded(next, var.value, max_size);
      from = pos + var.name.size();
      pos = current.find(var.name, from);
    }
    if (room) append_bounded(next, std::string_view(current).substr(from), max_size);
    truncate_utf8(next, max_size);
    current.swap(next);
  }
  return current;
}

std::string template_from_stored(std::string_view stored) {
  const Variable crlf{"$CRLF$", "\r\n"};
  return expand_variables(stored, std::span(&crlf, 1), std::string::npos);
}

std::string template_to_stored(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "$CRLF$";
    } else if (c == '\n') {
      out += "$CRLF$";
    } else {
      out += c;
    }
  }
  return out;
}

std::string crlf_to_lf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

DateTexts date_texts(const platform::LocalTime& t) {
  DateTexts d;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d", t.year);
  d.yyyy = buf;
  d.yy = two_digits(((t.year % 100) + 100) % 100);
  d.mm = two_digits(t.month);
  d.dd = two_digits(t.day);
  d.hh = two_digits(t.hour);
  d.mi = two_digits(t.minute);
  d.ss = two_digits(t.second);
  d.date = d.yyyy + "/" + d.mm + "/" + d.dd;
  d.time = d.hh + ":" + d.mi + ":" + d.ss;
  return d;
}

namespace {

// The date and time variables with their texts, in the table's order.
std::array<Variable, kDateVariableCount> date_variables(const DateTexts& d) {
  const std::array<std::string_view, kDateVariableCount> texts = {
      d.yyyy, d.yy, d.mm, d.dd, d.hh, d.mi, d.ss, d.date, d.time};
  std::array<Variable, kDateVariableCount> vars;
  for (std::size_t i = 0; i < vars.size(); ++i) vars[i] = {kEntryVariables[i], texts[i]};
  return vars;
}

// Position of a name in kEntryVariables, or nullopt.
std::optional<std::size_t> variable_index(std::string_view name) {
  const auto it = std::find(kEntryVariables.begin(), kEntryVariables.end(), name);
  if (it == kEntryVariables.end()) return std::nullopt;
  return static_cast<std::size_t>(it - kEntryVariables.begin());
}

}  // namespace

std::string expand_file_name(std::string_view name_template, const DateTexts& date) {
  // Only the seven components: "$DATE$" and "$TIME$" stay as they are.
  const auto vars = date_variables(date);
  return expand_variables(name_template, std::span(vars).first(7));
}

bool EntryValues::set(std::string_view name, std::string value) {
  const auto i = variable_index(name);
  if (!i || *i < kDateVariableCount) return false;
  values_[*i] = std::move(value);
  return true;
}

bool EntryValues::has(std::string_view name) const {
  const auto i = variable_index(name);
  return i && values_[*i].has_value();
}

std::string_view EntryValues::get(std::string_view name) const {
  const auto i = variable_index(name);
  if (!i || !values_[*i]) return {};
  return *values_[*i];
}

std::string expand_entry(std::string_view entry_template, const DateTexts& date,
                         const EntryValues& values) {
  const auto dated = date_variables(date);
  std::array<Variable, kEntryVariables.size()> vars;
  std::copy(dated.begin(), dated.end(), vars.begin());
  for (std::size_t i = kDateVariableCount; i < vars.size(); ++i) {
    vars[i] = {kEntryVariables[i], values.get(kEntryVariables[i])};
  }
  std::string text = expand_variables(crlf_to_lf(entry_template), vars);
  truncate_utf8(text, kMaxEntryLength);
  return text;
}

}  // namespace tw::logging
