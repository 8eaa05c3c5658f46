#pragma once
// The settings store: one INI file read and written key by key with the rules
// of a Windows private-profile file. There is no cache: every read reads the
// file, every write rewrites it (atomically), so a value written by one owner
// is seen by every later read.
//
// Only the main thread reads and writes settings.
#include <array>
#include <span>
#include <string>
#include <string_view>

#include "platform/file_store.h"

namespace tw::settings {

class Profile {
 public:
  Profile(platform::FileStore& files, std::string path);

  const std::string& path() const { return path_; }

  // Integer read with the private-profile parse: optional blanks, optional
  // sign, leading decimal digits; anything else reads as 0. A missing file,
  // section or key gives `def`.
  int read_int(std::string_view section, std::string_view key, int def) const;
  void write_int(std::string_view section, std::string_view key, int value);

  // String read (at most 4095 characters). Missing gives `def`.
  std::string read_string(std::string_view section, std::string_view key,
                          std::string_view def) const;
  void write_string(std::string_view section, std::string_view key, std::string_view value);

  // Window-placement list under section "Settings": exactly ten ":"-joined
  // integers, each parsed like C's "%i". On any other content returns false and
  // leaves `out` unchanged.
  bool read_placement(std::string_view key, std::array<int, 10>& out) const;
  void write_placement(std::string_view key, const std::array<int, 10>& values);

 private:
  platform::FileStore& files_;
  std::string path_;
};

// ":"-joined "%i" integer lists for owners that keep their own lists.
std::string format_int_list(std::span<const int> values);
// Parses field by field from the left, as sscanf with "%i:%i:..." would: the
// fields from the first one that does not parse onward keep their values.
void parse_int_list(std::string_view text, std::span<int> inout);

}  // namespace tw::settings
