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

IniDocument::Shape IniDocument::shape_of(std::string_view t) {
  Shape shape;
  std::size_t first = 0;
  while (first < t.size() && is_blank(t[first])) ++first;
  if (first == t.size()) {
    shape.kind = Kind::Blank;
    return shape;
  }
  // Offsets of the trimmed piece [b, e) of t.
  auto set_trimmed = [&t](std::size_t b, std::size_t e, std::size_t& pos, std::size_t& len) {
    while (b < e && is_blank(t[b])) ++b;
    while (e > b && is_blank(t[e - 1])) --e;
    pos = b;
    len = e - b;
  };
  if (t[first] == ';') {
    shape.kind = Kind::Comment;
    return shape;
  }
  if (t[first] == '[') {
    const std::size_t close = t.rfind(']');
    if (close != npos && close > first) {
      shape.kind = Kind::Section;
      set_trimmed(first + 1, close, shape.name_pos, shape.name_len);
    }
    return shape;  // an unclosed '[' line is kept but means nothing
  }
  const std::size_t eq = t.find('=');
  if (eq != npos) {
    shape.kind = Kind::Key;
    set_trimmed(first, eq, shape.name_pos, shape.name_len);
    set_trimmed(eq + 1, t.size(), shape.value_pos, shape.value_len);
  }
  return shape;
}

IniDocument::Line IniDocument::classify(std::string text) {
  Line line;
  static_cast<Shape&>(line) = shape_of(text);
  line.text = std::move(text);
  return line;
}

namespace {

// Calls f(line) for each line of content (BOM already removed) until f
// returns false. CRLF, CR and LF end a line; a last line without an end counts.
template <typename F>
void for_each_line(std::string_view content, F&& f) {
  // Two vectorised searches beat one search for either character. The next
  // '\n' is remembered, so a file of CR-only lines stays linear.
  std::size_t next_lf = content.find('\n');
  if (next_lf == npos) next_lf = content.size();
  std::size_t pos = 0;
  while (pos < content.size()) {
    if (next_lf < pos) {
      next_lf = content.find('\n', pos);
      if (next_lf == npos) next_lf = content.size();
    }
    std::size_t end = next_lf;
    const std::size_t cr = content.substr(0, end).find('\r', pos);
    if (cr != npos) end = cr;
    if (!f(content.substr(pos, end - pos))) return;
    pos = end + 1;
    if (end < content.size() && content[end] == '\r' && pos < content.size() && content[pos] == '\n') ++pos;
  }
}

bool strip_bom(std::string_view& content) {
  if (content.substr(0, kBom.size()) != kBom) return false;
  content.remove_prefix(kBom.size());
  return true;
}

}  // namespace

std::optional<IniDocument> IniDocument::parse(std::string_view content) {
  if (content.find('\0') != npos) return std::nullopt;
  IniDocument doc;
  doc.bom_ = strip_bom(content);
  for_each_line(content, [&doc](std::string_view line) {
    doc.lines_.push_back(classify(std::string(line)));
    return true;
  });
  return doc;
}

std::optional<std::string_view> IniDocument::find_in(std::string_view content,
                                                     std::string_view section,
                                                     std::string_view key) {
  if (content.find('\0') != npos) return std::nullopt;
  strip_bom(content);
  enum { Before, Inside, Done } state = Before;
  std::optional<std::string_view> found;
  for_each_line(content, [&](std::string_view line) {
    const Shape shape = shape_of(line);
    if (shape.kind == Kind::Section) {
      if (state == Inside) {
        state = Done;  // only the first section of a name is searched
      } else if (equal_ascii_nocase(line.substr(shape.name_pos, shape.name_len), section)) {
        state = Inside;
      }
    } else if (state == Inside && shape.kind == Kind::Key &&
               equal_ascii_nocase(line.substr(shape.name_pos, shape.name_len), key)) {
      found = line.substr(shape.value_pos, shape.value_len);
      state = Done;
    }
    return state != Done;
  });
  return found;
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
