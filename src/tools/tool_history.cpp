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

std::vector<std::string> parse_history(std::string_view text, std::string_view current) {
  std::vector<std::string> kept;
  std::size_t pos = 0;
  while (pos < text.size() && kept.size() < kMaxHistoryLines) {
    // One read of at most kMaxHistoryLineChars bytes, ending after a LF.
    std::size_t end = text.find('\n', pos);
    end = end == std::string_view::npos ? text.size() : end + 1;
    end = std::min(end, pos + kMaxHistoryLineChars);
    const std::string_view line = text.substr(pos, end - pos);
    pos = end;
    if (static_cast<unsigned char>(line[0]) < 0x20) continue;
    kept.push_back(without_line_breaks(line));
  }
  std::vector<std::string> out;
  for (auto& e : kept)
    if (e != current) out.push_back(std::move(e));
  return out;
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

void load_host_list(HostList& list, platform::FileStore& files, const std::string& path, bool history_on,
                    std::string_view current) {
  list.clear();
  if (history_on) {
    // A history file is a few KiB; anything far bigger is not one of ours.
    if (auto text = files.read(path, std::size_t{1} << 20)) {
      for (const auto& e : parse_history(*text, current)) list.add(e);
    }
  }
  list.add(current);
}

Status save_host_list(const HostList& list, platform::FileStore& files, const std::string& path,
                      bool history_on) {
  if (!history_on) return files.remove(path);
  return files.replace(path, format_history(list.entries()));
}

}  // namespace tw::tools
