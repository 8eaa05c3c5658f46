#include "settings/profile.h"

#include <cerrno>
#include <optional>
#include <utility>

#include "settings/ini_document.h"
#include "settings/int_parse.h"

namespace tw::settings {

namespace {

constexpr std::string_view kPlacementSection = "Settings";

bool has_line_break_or_nul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Trimmed section name, or nullopt when it cannot be written as "[name]".
std::optional<std::string_view> checked_section(std::string_view section) {
  section = trim_blanks(section);
  if (section.empty() || has_line_break_or_nul(section) ||
      section.find(']') != std::string_view::npos) {
    return std::nullopt;
  }
  return section;
}

// Trimmed key name, or nullopt when "name=value" would not read back as it.
std::optional<std::string_view> checked_key(std::string_view key) {
  key = trim_blanks(key);
  if (key.empty() || has_line_break_or_nul(key) || key.find('=') != std::string_view::npos ||
      key.front() == '[' || key.front() == ';') {
    return std::nullopt;
  }
  return key;
}

bool is_quote(char c) { return c == '"' || c == '\''; }

// The reader's view of a stored value: one pair of matching enclosing quotes
// is removed ("x" and 'x'; a lone quote stays).
std::string_view unquote(std::string_view v) {
  if (v.size() >= 2 && is_quote(v.front()) && v.back() == v.front()) return v.substr(1, v.size() - 2);
  return v;
}

// Cuts to at most `max` bytes without splitting a UTF-8 sequence. Only up to
// three continuation bytes are stepped over, so text in another encoding is
// cut near `max` as well.
std::string_view cut_utf8(std::string_view s, std::size_t max) {
  if (s.size() <= max) return s;
  std::size_t n = max;
  for (int back = 0; back < 3 && n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80; ++back) --n;
  if ((static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) n = max;  // not UTF-8 after all
  return s.substr(0, n);
}

// The stored text for a value: one line, quoted when the reader would
// otherwise change it.
std::string encode_value(std::string_view value) {
  value = value.substr(0, value.find('\0'));
  std::string out;
  out.reserve(value.size() + 2);
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\r' || c == '\n') {
      out += ' ';
      if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') ++i;
    } else {
      out += c;
    }
  }
  if (!out.empty() && (trim_blanks(out).size() != out.size() || unquote(out).size() != out.size())) {
    out = "\"" + out + "\"";
  }
  return out;
}

}  // namespace

Profile::Profile(platform::FileStore& files, std::string path)
    : files_(files), path_(std::move(path)) {}

SettingsFileProblem Profile::file_problem() const {
  const auto content = files_.read(path_, kMaxFileBytes);
  if (content) return IniDocument::parse(*content) ? SettingsFileProblem::None : SettingsFileProblem::NotText;
  switch (content.error().errno_value) {
    case platform::kFileMissingErrno:
      return SettingsFileProblem::None;
    case platform::kFileTooBigErrno:
      return SettingsFileProblem::TooBig;
    case platform::kNotAFileErrno:
      return SettingsFileProblem::NotAFile;
    default:
      return SettingsFileProblem::Unreadable;
  }
}

std::string Profile::read_string(std::string_view section, std::string_view key,
                                 std::string_view def) const {
  const auto sec = checked_section(section);
  const auto k = checked_key(key);
  if (!sec || !k) return std::string(def);
  const auto content = files_.read(path_, kMaxFileBytes);
  if (!content) return std::string(def);
  const auto value = IniDocument::find_in(*content, *sec, *k);
  if (!value) return std::string(def);
  return std::string(cut_utf8(unquote(*value), kMaxStringChars));
}

int Profile::read_int(std::string_view section, std::string_view key, int def) const {
  // An absent key and an empty value both give the default, as the Windows
  // call does (it reads the value as a string first).
  const std::string text = read_string(section, key, "");
  if (text.empty()) return def;
  return parse_profile_int(text);
}

bool Profile::write_string(std::string_view section, std::string_view key, std::string_view value) {
  const KeyValue one[] = {{key, value}};
  return write_strings(section, one).ok();
}

Status Profile::write_strings(std::string_view section, std::span<const KeyValue> values) {
  constexpr const char* kNotWritten = "The settings were not written.";
  const auto sec = checked_section(section);
  if (!sec) return Error{kNotWritten, "the section name [" + std::string(section) + "] cannot be stored", EINVAL};
  for (const auto& [key, value] : values)
    if (!checked_key(key)) return Error{kNotWritten, "the key name " + std::string(key) + " cannot be stored", EINVAL};

  auto content = files_.read(path_, kMaxFileBytes);
  if (!content) {
    // Only a missing file starts empty: one that is there but could not be
    // read (too big, no permission, no regular file) is never replaced.
    if (content.error().errno_value != platform::kFileMissingErrno)
      return Error{kNotWritten, path_ + " cannot be read, so it is not replaced: " + content.error().detail,
                   content.error().errno_value};
    content = std::string();
  }
  auto doc = IniDocument::parse(*content);
  if (!doc) return Error{kNotWritten, path_ + " holds NUL bytes, so it is not replaced", EINVAL};
  bool changed = false;
  for (const auto& [key, value] : values) {
    const std::string stored = encode_value(value);
    if (const auto current = doc->find(*sec, *checked_key(key)); current && *current == stored) continue;
    doc->set(*sec, *checked_key(key), stored);
    changed = true;
  }
  if (!changed) return {};
  std::string updated = doc->serialise();
  // Never write a file that the next read would have to refuse.
  if (updated.size() > kMaxFileBytes)
    return Error{kNotWritten, path_ + " would grow beyond " + std::to_string(kMaxFileBytes) + " bytes", EFBIG};
  const Status written = files_.replace(path_, updated);
  if (!written) return Error{kNotWritten, written.error().detail, written.error().errno_value};
  return {};
}

bool Profile::write_int(std::string_view section, std::string_view key, int value) {
  return write_string(section, key, std::to_string(value));
}

bool Profile::read_placement(std::string_view key, std::array<int, 10>& out) const {
  const std::string text = read_string(kPlacementSection, key, "");
  if (text.empty()) return false;
  std::array<int, 10> values = out;
  if (parse_int_list(text, values) != values.size()) return false;
  out = values;
  return true;
}

bool Profile::write_placement(std::string_view key, const std::array<int, 10>& values) {
  return write_string(kPlacementSection, key, format_int_list(values));
}

std::string format_int_list(std::span<const int> values) {
  std::string out;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) out += ':';
    out += std::to_string(values[i]);
  }
  return out;
}

std::size_t parse_int_list(std::string_view text, std::span<int> inout) {
  std::size_t pos = 0;
  for (std::size_t field = 0; field < inout.size(); ++field) {
    if (field > 0) {
      if (pos >= text.size() || text[pos] != ':') return field;
      ++pos;
    }
    const auto v = parse_c_int(text, pos);
    if (!v) return field;
    inout[field] = *v;
  }
  return inout.size();
}

}  // namespace tw::settings
