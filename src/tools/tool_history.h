#pragma once
// The host list of a tool tab (PING, TRACERT, WHOIS, NSLOOKUP) and its
// history file.
//
// The list is kept sorted the way the tab's combo box shows it and holds each
// text once (exact, case-sensitive comparison: "Example.com" and
// "example.com" are two entries). The history file is plain text, one entry
// per line, written sorted with consecutive duplicates dropped; reading keeps
// at most kMaxHistoryLines entries. A file is read a piece at a time, so the
// first entries of a file of any size are read; a file that exists but could
// not be read is never written over or deleted.
//
// Pure logic; the tab owns the list on the user-interface thread.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_store.h"

namespace tw::tools {

inline constexpr std::size_t kMaxHistoryLines = 500;
// Longest line read from a history file; a longer line is read in pieces of
// this size, each piece an entry of its own.
inline constexpr std::size_t kMaxHistoryLineChars = 1023;

// The entries of a history file's text, in file order: lines whose first byte
// is a control character (below 0x20) are skipped, CR and LF are removed, at
// most kMaxHistoryLines are kept, and entries equal to `current` are left out
// (the tab adds the current host itself).
std::vector<std::string> parse_history(std::string_view text, std::string_view current);

// parse_history() over a text that arrives in pieces.
class HistoryParser {
 public:
  explicit HistoryParser(std::string_view current) : current_(current) {}
  // The next piece of the text. False once kMaxHistoryLines entries are kept:
  // the rest need not be read.
  bool feed(std::string_view piece);
  // The end of the text.
  void finish();
  // The entries, without those equal to `current`.
  std::vector<std::string> entries() const;

 private:
  void take_line(std::string_view line);
  bool full() const { return kept_.size() >= kMaxHistoryLines; }

  std::string current_;
  std::string pending_;  // the start of a line not complete yet
  std::vector<std::string> kept_;
};

// How much of a history file one read takes.
inline constexpr std::size_t kHistoryReadPiece = std::size_t{64} << 10;

// What the tab-creation step found of the history file.
enum class HistoryFile {
  NotRead,     // history off: the file was not looked at
  Missing,     // no file: an empty history
  Read,        // its entries are in the list
  Unreadable,  // there, but could not be read (no permission, no regular file,
               // an error part-way): left as it is at the tab's close
};

// The file text for `entries` (in list order): empty entries skipped, CR and
// LF removed, an entry equal to the one written before it skipped; "%s\n" each.
std::string format_history(const std::vector<std::string>& entries);

class HostList {
 public:
  // Adds `host` unless an entry with exactly that text is there. Empty texts
  // are not added. True when added.
  bool add(std::string_view host);
  bool contains(std::string_view host) const;
  void clear() { entries_.clear(); }
  // Sorted alphabetically, letter case ignored (ties in byte order), as the
  // combo box lists them.
  const std::vector<std::string>& entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
};

// The tab-creation step: the list emptied, the history (when `history_on`)
// loaded from `path` (a missing or unreadable file gives no entries), then
// `current` added.
HistoryFile load_host_list(HostList& list, platform::FileStore& files, const std::string& path, bool history_on,
                           std::string_view current);

// The tab-close step: with history on, the list is written to `path`; with it
// off, an existing history file is emptied away (removed). A file that
// load_host_list() found Unreadable is neither: an error says it was left.
// Returns the outcome of the file operation.
Status save_host_list(const HostList& list, platform::FileStore& files, const std::string& path,
                      bool history_on, HistoryFile loaded);

}  // namespace tw::tools
