#pragma once
// The text of one INI file as a list of lines, for lookups and for in-place
// edits that keep everything we do not understand. Parsing follows the Windows
// private-profile reader:
//   - a line whose first non-blank character is '[' and that has a later ']'
//     opens a section named by the text between '[' and the last ']' (trimmed);
//   - a line with '=' inside a section is a key; name and value are trimmed;
//   - lines starting with ';' are comments; blank lines and anything else are
//     kept as they are but never match a lookup;
//   - names compare case-insensitively (ASCII); the first section with a name
//     and, inside it, the first key with a name win.
// CRLF, CR and LF all end a line; a UTF-8 byte-order mark is skipped and kept.
// Serialising writes LF line ends.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::settings {

class IniDocument {
 public:
  // nullopt when the content is not text (it holds NUL bytes): such a file is
  // not a settings file we can edit without destroying it.
  static std::optional<IniDocument> parse(std::string_view content);

  // The trimmed value text of `key` in the first section named `section`,
  // quotes not removed. nullopt when the section or key is missing.
  std::optional<std::string_view> find(std::string_view section, std::string_view key) const;

  // The same lookup straight on file content, without building a document
  // (reads are far more frequent than writes). nullopt also for non-text
  // content, which parse() refuses.
  static std::optional<std::string_view> find_in(std::string_view content, std::string_view section,
                                                 std::string_view key);

  // Sets `key` in the first section named `section` to the line text `value`
  // (which must not hold line breaks). An existing key line is rewritten as
  // "StoredName=value" keeping the stored spelling of the name; a new key goes
  // after the last non-blank line of its section; a new section is added at
  // the end of the file after a blank line.
  void set(std::string_view section, std::string_view key, std::string_view value);

  std::string serialise() const;

 private:
  enum class Kind { Other, Blank, Comment, Section, Key };
  // What a line is, with the section or key name and the key's value as
  // offsets into the line.
  struct Shape {
    Kind kind = Kind::Other;
    std::size_t name_pos = 0, name_len = 0;
    std::size_t value_pos = 0, value_len = 0;
  };
  struct Line : Shape {
    std::string text;
  };

  static Shape shape_of(std::string_view text);
  static Line classify(std::string text);
  std::string_view name_of(const Line& line) const {
    return std::string_view(line.text).substr(line.name_pos, line.name_len);
  }
  // Index of the first section line named `section`, or npos.
  std::size_t find_section(std::string_view section) const;

  bool bom_ = false;
  std::vector<Line> lines_;
};

// ASCII case-insensitive equality, as the profile calls compare names.
bool equal_ascii_nocase(std::string_view a, std::string_view b);
// Strips blanks (space, tab and the other ASCII white space) at both ends.
std::string_view trim_blanks(std::string_view s);

}  // namespace tw::settings
