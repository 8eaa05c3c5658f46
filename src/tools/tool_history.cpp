#include "tools/tool_history.h"

#include <algorithm>
#include <cctype>

namespace tw::tools {
namespace {

std::string without_line_breaks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s)
    if (c != '\r' && c != '\n') out.push_back(c);
  return out;
}

// The combo box's order: letters compared without case, byte order breaking
// ties so that "A.com" and "a.com" have a fixed place.
bool list_before(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = std::tolower(static_cast<unsigned char>(a[i]));
    const int cb = std::tolower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

}  // namespace

bool HistoryParser::feed(std::string_view piece) {
  if (full()) return false;
  pending_.append(piece);
  std::size_t pos = 0;
  while (!full()) {
    // One read of at most kMaxHistoryLineChars bytes, ending after a LF; a
    // read that has neither its LF nor its full length yet waits for more.
    const std::size_t window = std::min(pending_.size() - pos, kMaxHistoryLineChars);
    const std::size_t lf = std::string_view(pending_).substr(pos, window).find('\n');
    std::size_t end;
    if (lf != std::string_view::npos) end = pos + lf + 1;
    else if (window == kMaxHistoryLineChars) end = pos + window;
    else break;
    take_line(std::string_view(pending_).substr(pos, end - pos));
    pos = end;
  }
  pending_.erase(0, pos);
  return !full();
}

void HistoryParser::finish() {
  if (!full() && !pending_.empty()) take_line(pending_);
  pending_.clear();
}

void HistoryParser::take_line(std::string_view line) {
  if (static_cast<unsigned char>(line[0]) < 0x20) return;
  kept_.push_back(without_line_breaks(line));
}

std::vector<std::string> HistoryParser::entries() const {
  std::vector<std::string> out;
  for (const auto& e : kept_)
    if (e != current_) out.push_back(e);
  return out;
}

std::vector<std::string> parse_history(std::string_view text, std::string_view current) {
  HistoryParser parser(current);
  if (parser.feed(text)) parser.finish();
  return parser.entries();
}

std::string format_history(const std::vector<std::string>& entries) {
  std::string out;
  std::string previous;
  bool first = true;
  for (const auto& raw : entries) {
    std::string e = without_line_breaks(raw);
    if (e.empty()) continue;
    if (!first && e == previous) continue;
    out += e;
    out += '\n';
    previous = std::move(e);
    first = false;
  }
  return out;
}

bool HostList::add(std::string_view host) {
  if (host.empty() || contains(host)) return false;
  std::string h(host);
  entries_.insert(std::upper_bound(entries_.begin(), entries_.end(), h, list_before), std::move(h));
  return true;
}

bool HostList::contains(std::string_view host) const {
  return std::find(entries_.begin(), entries_.end(), host) != entries_.end();
}

HistoryFile load_host_list(HostList& list, platform::FileStore& files, const std::string& path, bool history_on,
                           std::string_view current) {
  list.clear();
  HistoryFile outcome = HistoryFile::NotRead;
  if (history_on) {
    HistoryParser parser(current);
    std::uint64_t offset = 0;
    outcome = HistoryFile::Read;
    for (;;) {
      auto piece = files.read_part(path, offset, kHistoryReadPiece);
      if (!piece) {
        const bool missing = offset == 0 && piece.error().errno_value == platform::kFileMissingErrno;
        outcome = missing ? HistoryFile::Missing : HistoryFile::Unreadable;
        break;
      }
      if (piece->empty()) {
        parser.finish();
        break;
      }
      offset += piece->size();
      if (!parser.feed(*piece)) break;
    }
    if (outcome == HistoryFile::Read)
      for (const auto& e : parser.entries()) list.add(e);
  }
  list.add(current);
  return outcome;
}

Status save_host_list(const HostList& list, platform::FileStore& files, const std::string& path,
                      bool history_on, HistoryFile loaded) {
  if (loaded == HistoryFile::Unreadable)
    return Error{"The history file was not read, so it is left as it is.", path, 0};
  if (!history_on) return files.remove(path);
  return files.replace(path, format_history(list.entries()));
}

}  // namespace tw::tools
