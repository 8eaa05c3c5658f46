#include "settings/ini_document.h"

namespace tw::settings {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::size_t npos = std::string::npos;

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool equal_ascii_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
  }
  return true;
}

std::string_view trim_blanks(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && is_blank(s[b])) ++b;
  while (e > b && is_blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

IniDocument::Line IniDocument::classify(std::string text) {
  Line line;
  line.text = std::move(text);
  const std::string_view t = line.text;
  std::size_t first = 0;
  while (first < t.size() && is_blank(t[first])) ++first;
  if (first == t.size()) {
    line.kind = Kind::Blank;
    return line;
  }
  // Offsets of the trimmed piece [b, e) of t.
  auto set_trimmed = [&t](std::size_t b, std::size_t e, std::size_t& pos, std::size_t& len) {
    while (b < e && is_blank(t[b])) ++b;
    while (e > b && is_blank(t[e - 1])) --e;
    pos = b;
    len = e - b;
  };
  if (t[first] == ';') {
    line.kind = Kind::Comment;
    return line;
  }
  if (t[first] == '[') {
    const std::size_t close = t.rfind(']');
    if (close != npos && close > first) {
      line.kind = Kind::Section;
      set_trimmed(first + 1, close, line.name_pos, line.name_len);
    }
    return line;  // an unclosed '[' line is kept but means nothing
  }
  const std::size_t eq = t.find('=');
  if (eq != npos) {
    line.kind = Kind::Key;
    set_trimmed(first, eq, line.name_pos, line.name_len);
    set_trimmed(eq + 1, t.size(), line.value_pos, line.value_len);
  }
  return line;
}

std::optional<IniDocument> IniDocument::parse(std::string_view content) {
  if (content.find('\0') != npos) return std::nullopt;
  IniDocument doc;
  if (content.substr(0, kBom.size()) == kBom) {
    doc.bom_ = true;
    content.remove_prefix(kBom.size());
  }
  std::size_t pos = 0;
  while (pos < content.size()) {
    const std::size_t end = content.find_first_of("\r\n", pos);
    if (end == npos) {
      doc.lines_.push_back(classify(std::string(content.substr(pos))));
      break;
    }
    doc.lines_.push_back(classify(std::string(content.substr(pos, end - pos))));
    pos = end + 1;
    if (content[end] == '\r' && pos < content.size() && content[pos] == '\n') ++pos;
  }
  return doc;
}

std::size_t IniDocument::find_section(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::Section && equal_ascii_nocase(name_of(lines_[i]), section)) return i;
  }
  return npos;
}

std::optional<std::string_view> IniDocument::find(std::string_view section,
                                                  std::string_view key) const {
  const std::size_t s = find_section(section);
  if (s == npos) return std::nullopt;
  for (std::size_t i = s + 1; i < lines_.size() && lines_[i].kind != Kind::Section; ++i) {
    const Line& line = lines_[i];
    if (line.kind == Kind::Key && equal_ascii_nocase(name_of(line), key)) {
      return std::string_view(line.text).substr(line.value_pos, line.value_len);
    }
  }
  return std::nullopt;
}

void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
  const std::size_t s = find_section(section);
  if (s == npos) {
    if (!lines_.empty() && lines_.back().kind != Kind::Blank) lines_.push_back(classify(""));
    lines_.push_back(classify("[" + std::string(section) + "]"));
    lines_.push_back(classify(std::string(key) + "=" + std::string(value)));
    return;
  }
  std::size_t last_filled = s;
  std::size_t i = s + 1;
  for (; i < lines_.size() && lines_[i].kind != Kind::Section; ++i) {
    Line& line = lines_[i];
    if (line.kind == Kind::Key && equal_ascii_nocase(name_of(line), key)) {
      line = classify(std::string(name_of(line)) + "=" + std::string(value));
      return;
    }
    if (line.kind != Kind::Blank) last_filled = i;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last_filled + 1),
                classify(std::string(key) + "=" + std::string(value)));
}

std::string IniDocument::serialise() const {
  std::size_t size = bom_ ? kBom.size() : 0;
  for (const Line& line : lines_) size += line.text.size() + 1;
  std::string out;
  out.reserve(size);
  if (bom_) out += kBom;
  for (const Line& line : lines_) {
    out += line.text;
    out += '\n';
  }
  return out;
}

}  // namespace tw::settings
