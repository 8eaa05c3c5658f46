// Arbitrary bytes as a settings file: reads must not crash, and a write must
// read back (or be refused without touching the file).
//
// Input layout: the first byte picks the names and value used for the write,
// the rest is the file content.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/fake/fake_file_store.h"
#include "settings/ini_document.h"
#include "settings/profile.h"

namespace {

constexpr const char* kPath = "/fuzz/tarnix_u@h.ini";

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t selector = data[0];
  const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);

  tw::platform::FakeFileStore files;
  files.files[kPath] = content;
  tw::settings::Profile profile(files, kPath);

  // Names present in the seeds plus some from the content itself.
  static const char* const kSections[] = {"Settings", "settings", "Traffic", "NoticeBox", "New"};
  static const char* const kKeys[] = {"TabCurSel", "Position", "LogFmt", "k", "Color00"};
  const char* section = kSections[selector % 5];
  const char* key = kKeys[(selector / 5) % 5];
  const auto doc = tw::settings::IniDocument::parse(content);
  for (const char* s : kSections) {
    for (const char* k : kKeys) {
      // The quick lookup used by reads and the document used by writes agree.
      check(tw::settings::IniDocument::find_in(content, s, k) ==
            (doc ? doc->find(s, k) : std::nullopt));
      (void)profile.read_int(s, k, 7);
      std::string v = profile.read_string(s, k, "def");
      check(v.size() <= tw::settings::Profile::kMaxStringChars || v == "def");
      std::array<int, 10> placement{};
      (void)profile.read_placement(k, placement);
    }
  }

  // The value to write: a slice of the content, so quotes, blanks, line
  // breaks and NULs all occur.
  const std::size_t len = content.empty() ? 0 : (selector * 7u) % (content.size() + 1);
  const std::string_view value = std::string_view(content).substr(0, len);
  const bool written = profile.write_string(section, key, value);
  if (!written) {
    check(files.files[kPath] == content);  // refused writes leave the file alone
    return 0;
  }
  // What the store promises for a written value: line breaks become blanks,
  // the value ends at a NUL, and it reads back otherwise unchanged (cut at the
  // read limit).
  std::string expected;
  std::string_view v = value.substr(0, value.find('\0'));
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\r' || v[i] == '\n') {
      expected += ' ';
      if (v[i] == '\r' && i + 1 < v.size() && v[i + 1] == '\n') ++i;
    } else {
      expected += v[i];
    }
  }
  const std::string back = profile.read_string(section, key, "\x01missing");
  if (expected.size() <= tw::settings::Profile::kMaxStringChars) {
    check(back == expected);
  } else {
    check(expected.starts_with(back) && back.size() + 4 > tw::settings::Profile::kMaxStringChars);
  }
  // The rewritten file is still text we can edit.
  check(tw::settings::IniDocument::parse(files.files[kPath]).has_value());
  return 0;
}
