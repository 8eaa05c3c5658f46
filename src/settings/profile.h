#pragma once
// The settings store: one INI file read and written key by key with the rules
// of a Windows private-profile file. There is no cache: every read reads the
// file, every write rewrites it (atomically), so a value written by one owner
// is seen by every later read.
//
// Only the main thread reads and writes settings.
//
// Safety rules (a broken or foreign file never crashes us and is never
// silently destroyed):
//   - the file is read up to kMaxFileBytes; a bigger or unreadable file reads
//     as missing (every read gives its default) and a write to it is refused,
//     so that the file stays as it is for the user to look at; a write that
//     would make the file bigger than that is refused too;
//   - a file holding NUL bytes is not text: reads give defaults, writes are
//     refused for the same reason;
//   - section and key names are trimmed; a name that is empty, holds a line
//     break or NUL, a section name holding ']' and a key name holding '=' or
//     starting with '[' or ';' cannot be stored in an INI line: reads of such
//     names give the default and writes are refused;
//   - in written values every line break (CRLF, CR or LF) becomes one space
//     and the value ends at a NUL, so a value always stays on its own line;
//   - a value that begins or ends with a blank, or that is enclosed in a pair
//     of matching quotes, is written inside double quotes so that it reads back
//     unchanged (the reader strips one pair of enclosing quotes and the blanks).
// The write functions return false when nothing was written; the program's
// settings model does not depend on it (it keeps its in-memory values). A
// file that is there but cannot be read is never replaced.
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "platform/file_store.h"

namespace tw::settings {

// Why an existing settings file cannot be used (see the safety rules above).
enum class SettingsFileProblem {
  None,        // usable, or missing (the defaults are meant then)
  NotText,     // it holds NUL bytes
  TooBig,      // larger than Profile::kMaxFileBytes
  NotAFile,    // a folder, FIFO, device ... where the file should be
  Unreadable,  // no permission, I/O error
};

class Profile {
 public:
  // A settings file is a few KiB; anything beyond this is not ours.
  static constexpr std::size_t kMaxFileBytes = std::size_t{4} << 20;
  // Longest string a read returns, in bytes (cut back to a UTF-8 boundary).
  static constexpr std::size_t kMaxStringChars = 4095;

  Profile(platform::FileStore& files, std::string path);

  const std::string& path() const { return path_; }
  // The store the file is kept in; the files beside it (rule files) are kept
  // in the same one.
  platform::FileStore& files() const { return files_; }

  // Whether the file is there but unusable: every read then gives its
  // default and every write is refused, so nothing the program keeps (the
  // gross totals among it) persists. The programs say so once at start.
  SettingsFileProblem file_problem() const;

  // Integer read with the private-profile parse: optional blanks, optional
  // sign, leading decimal digits; anything else reads as 0; values out of the
  // int range wrap modulo 2^32. A missing file, section or key, or an empty
  // value, gives `def`.
  int read_int(std::string_view section, std::string_view key, int def) const;
  bool write_int(std::string_view section, std::string_view key, int value);

  // String read (at most 4095 characters). Missing gives `def`; a key that is
  // present with an empty value gives "".
  std::string read_string(std::string_view section, std::string_view key,
                          std::string_view def) const;
  bool write_string(std::string_view section, std::string_view key, std::string_view value);

  // Several keys of one section in one replace of the file (one read, one
  // write, one rename), in the order given: a reader, or a kill, never finds
  // some of them from one call and the rest from an earlier one. Keys whose
  // stored text would not change are left as they are, and nothing is
  // written when none changes. An error (its detail names the file and the
  // system's reason) says why nothing was written; the file is then as it
  // was.
  struct KeyValue {
    std::string_view key;
    std::string_view value;
  };
  Status write_strings(std::string_view section, std::span<const KeyValue> values);

  // Window-placement list under section "Settings": exactly ten ":"-joined
  // integers, each parsed like C's "%i". On any other content returns false and
  // leaves `out` unchanged.
  bool read_placement(std::string_view key, std::array<int, 10>& out) const;
  bool write_placement(std::string_view key, const std::array<int, 10>& values);

 private:
  platform::FileStore& files_;
  std::string path_;
};

// ":"-joined "%i" integer lists for owners that keep their own lists.
std::string format_int_list(std::span<const int> values);
// Parses field by field from the left, as sscanf with "%i:%i:..." would: the
// fields from the first one that does not parse onward keep their values.
// Returns the number of fields parsed.
std::size_t parse_int_list(std::string_view text, std::span<int> inout);

}  // namespace tw::settings
