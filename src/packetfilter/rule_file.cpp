#include "packetfilter/rule_file.h"

#include <algorithm>
#include <cstdint>
#include <functional>

namespace tw::packetfilter {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The table of the longest common subsequence is filled only for the part
// between the common start and end of the two files; beyond this many cells
// (2048 x 2048 lines, 8 MiB) that part is taken as replaced as a whole rather
// than compared line by line.
constexpr std::size_t kMaxMatchCells = std::size_t{1} << 22;

// For each line of `a`, the line of `b` it is the same line as (-1: none),
// in order: the longest common subsequence of the two, so that a line that
// is in both files keeps its identity even when lines were added or removed
// around it.
std::vector<std::ptrdiff_t> match_lines(const std::vector<std::string_view>& a, const std::vector<std::string_view>& b) {
  std::vector<std::ptrdiff_t> out(a.size(), -1);
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) {
    out[head] = static_cast<std::ptrdiff_t>(head);
    ++head;
  }
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
    out[a.size() - 1 - tail] = static_cast<std::ptrdiff_t>(b.size() - 1 - tail);
    ++tail;
  }
  const std::size_t n = a.size() - head - tail, m = b.size() - head - tail;
  if (n == 0 || m == 0 || n * m > kMaxMatchCells) return out;

  std::vector<std::size_t> ha(n), hb(m);
  for (std::size_t i = 0; i < n; ++i) ha[i] = std::hash<std::string_view>{}(a[head + i]);
  for (std::size_t j = 0; j < m; ++j) hb[j] = std::hash<std::string_view>{}(b[head + j]);
  auto same = [&](std::size_t i, std::size_t j) { return ha[i] == hb[j] && a[head + i] == b[head + j]; };
  // len[i][j]: the common subsequence of a[i..] and b[j..]; at most
  // min(n, m) <= 2048, so 16 bits hold it.
  const std::size_t w = m + 1;
  std::vector<std::uint16_t> len((n + 1) * w, 0);
  for (std::size_t i = n; i-- > 0;)
    for (std::size_t j = m; j-- > 0;)
      len[i * w + j] = same(i, j) ? static_cast<std::uint16_t>(len[(i + 1) * w + j + 1] + 1)
                                  : std::max(len[(i + 1) * w + j], len[i * w + j + 1]);
  for (std::size_t i = 0, j = 0; i < n && j < m;) {
    if (same(i, j)) {
      out[head + i] = static_cast<std::ptrdiff_t>(head + j);
      ++i;
      ++j;
    } else if (len[(i + 1) * w + j] >= len[i * w + j + 1]) {
      ++i;
    } else {
      ++j;
    }
  }
  return out;
}

// What ends `line` in the file: a line feed, with a CR first in a file of
// CR LF lines when the line has none (a last line that had no line end).
std::string_view line_end(std::string_view line, bool crlf) {
  return crlf && !line.ends_with('\r') ? std::string_view("\r\n") : std::string_view("\n");
}

// The lines of a file's text (after a BOM), without their line feeds.
std::vector<std::string_view> split_lines(std::string_view text) {
  if (text.starts_with(kBom)) text.remove_prefix(kBom.size());
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    lines.push_back(text.substr(0, nl));
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
  }
  return lines;
}

bool is_comment(std::string_view line) {
  if (line.empty()) return true;
  const auto first = static_cast<unsigned char>(line[0]);
  return first == '!' || first == '#' || first == ';' || first < 0x10;
}

}  // namespace

RuleFile::RuleFile(std::string_view text) : base_(std::string(text)) {
  if (text.starts_with(kBom)) {
    // Windows editors start a UTF-8 file with it; read as text it would make
    // the first rule's action "\xEF\xBB\xBFDROP".
    bom_ = true;
    text.remove_prefix(kBom.size());
  }
  bool crlf_known = false;
  lines_.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    Line line;
    line.text = std::string(text.substr(0, nl));
    line.line_feed = nl != std::string_view::npos;
    line.base = lines_.size();
    text.remove_prefix(line.line_feed ? nl + 1 : text.size());
    if (line.line_feed && !crlf_known) {
      crlf_known = true;
      crlf_ = line.text.ends_with('\r');
    }
    const std::size_t number = lines_.size() + 1;
    if (!is_comment(line.text)) {
      // The end of the file ends the last field as a line feed does: a file
      // whose last line has no line break means its last field too.
      line.text.push_back('\n');
      std::vector<std::string> f = split_fields(line.text);
      line.text.pop_back();
      const bool has_memo = f.size() >= static_cast<std::size_t>(kColumnCount);
      f.resize(std::max<std::size_t>(f.size(), kColumnCount));  // missing fields read as empty text
      GridRow row;
      std::move(f.begin(), f.begin() + kColumnCount, row.begin());
      if (!has_memo) row[kMemo].assign(1, ' ');
      if (auto problem = row_problem(row)) {
        problems_.push_back({number, false, std::move(*problem)});
      } else if (grid_.size() >= kMaxRules) {
        problems_.push_back({number, true, {}});
      } else {
        line.row = grid_.size();
        grid_lines_.push_back(lines_.size());
        grid_.push_back(row_from_rule(rule_from_row(row)));
      }
    }
    lines_.push_back(std::move(line));
  }
}

void RuleFile::reindex() {
  grid_lines_.clear();
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (!lines_[i].row) continue;
    lines_[i].row = grid_lines_.size();
    grid_lines_.push_back(i);
  }
}

bool RuleFile::set_row(std::size_t row, const GridRow& cells) {
  if (row >= grid_.size()) return false;
  if (grid_[row] == cells) return true;
  grid_[row] = cells;
  lines_[grid_lines_[row]].edited = true;
  edited_ = true;
  return true;
}

bool RuleFile::insert_row(std::size_t before, const GridRow& cells) {
  if (before > grid_.size() || grid_.size() >= kMaxRules) return false;
  Line line;
  line.row = before;
  line.edited = true;
  const std::size_t at = before < grid_.size() ? grid_lines_[before] : lines_.size();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
  grid_.insert(grid_.begin() + static_cast<std::ptrdiff_t>(before), cells);
  edited_ = true;
  reindex();
  return true;
}

bool RuleFile::erase_row(std::size_t row) {
  if (row >= grid_.size()) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(grid_lines_[row]));
  grid_.erase(grid_.begin() + static_cast<std::ptrdiff_t>(row));
  edited_ = true;
  reindex();
  return true;
}

bool RuleFile::swap_rows(std::size_t a, std::size_t b) {
  if (a >= grid_.size() || b >= grid_.size()) return false;
  if (a == b) return true;
  const GridRow first = grid_[a];
  const GridRow second = grid_[b];
  return set_row(a, second) && set_row(b, first);
}

std::string RuleFile::render(const Line& line, bool crlf) const {
  if (!line.edited) return line.text;
  // An edited row keeps its own line end; a new one takes the file's.
  const bool cr = line.base ? line.text.ends_with('\r') : crlf;
  return row_line(grid_[*line.row]) + (cr ? "\r" : "");
}

std::string RuleFile::text() const {
  if (!edited_) return base_.value_or(std::string());
  std::string out;
  if (lines_.empty()) return out;
  if (bom_) out += kBom;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const std::string line = render(lines_[i], crlf_);
    out += line;
    // A last line without a line feed gets one once lines follow it.
    if (lines_[i].line_feed || lines_[i].edited) out += '\n';
    else if (i + 1 < lines_.size()) out += line_end(line, crlf_);
  }
  return out;
}

std::string RuleFile::merged_onto(const std::optional<std::string>& disk, std::size_t* given_up) const {
  const RuleFile theirs(disk.value_or(std::string()));
  const std::vector<std::string_view> base_lines = split_lines(base_ ? std::string_view(*base_) : std::string_view());
  const std::vector<std::ptrdiff_t> base_to_disk = match_lines(base_lines, split_lines(*theirs.base_));
  std::vector<std::ptrdiff_t> disk_to_base(theirs.lines_.size(), -1);
  for (std::size_t i = 0; i < base_to_disk.size(); ++i)
    if (base_to_disk[i] >= 0) disk_to_base[static_cast<std::size_t>(base_to_disk[i])] = static_cast<std::ptrdiff_t>(i);

  // Our line for each base line still held, and where our new lines go:
  // after the base line they follow here, else at the start; the ones after
  // the last base line (appended) at the new end.
  std::vector<const Line*> ours(base_lines.size(), nullptr);
  std::vector<std::vector<const Line*>> after_disk(theirs.lines_.size());
  std::vector<const Line*> at_start, at_end;
  std::size_t lost = 0;
  auto place = [&](std::ptrdiff_t anchor, std::vector<const Line*>& group) {
    // The nearest base line at or before the anchor that is still on disk.
    while (anchor >= 0 && base_to_disk[static_cast<std::size_t>(anchor)] < 0) --anchor;
    auto& to = anchor < 0 ? at_start : after_disk[static_cast<std::size_t>(base_to_disk[static_cast<std::size_t>(anchor)])];
    to.insert(to.end(), group.begin(), group.end());
    group.clear();
  };
  std::ptrdiff_t last_base = -1;
  std::vector<const Line*> group;
  for (const Line& line : lines_) {
    if (!line.base) {
      group.push_back(&line);
      continue;
    }
    place(last_base, group);
    last_base = static_cast<std::ptrdiff_t>(*line.base);
    ours[*line.base] = &line;
    if (line.edited && base_to_disk[*line.base] < 0) ++lost;  // the row was changed on disk meanwhile
  }
  at_end = std::move(group);

  const bool crlf = theirs.lines_.empty() ? crlf_ : theirs.crlf_;
  std::string out;
  // `ended`: the line had its line feed (or is written here, with its CR as
  // render gives it); `last`: nothing follows, so none is added.
  auto emit = [&](const std::string& text, bool ended, bool last) {
    out += text;
    if (ended) out += '\n';
    else if (!last) out += line_end(text, crlf);
  };
  for (const Line* l : at_start) emit(render(*l, crlf), true, false);
  for (std::size_t j = 0; j < theirs.lines_.size(); ++j) {
    const Line& their = theirs.lines_[j];
    const bool last = j + 1 == theirs.lines_.size() && after_disk[j].empty() && at_end.empty();
    if (disk_to_base[j] < 0) {
      emit(their.text, their.line_feed, last);
    } else if (const Line* mine = ours[static_cast<std::size_t>(disk_to_base[j])]) {
      emit(render(*mine, crlf), their.line_feed || mine->edited, last);
    }  // else: removed here
    for (const Line* l : after_disk[j]) emit(render(*l, crlf), true, false);
  }
  for (const Line* l : at_end) emit(render(*l, crlf), true, false);
  if (given_up) *given_up = lost;
  if (out.empty()) return out;
  return ((theirs.lines_.empty() ? bom_ : theirs.bom_) ? std::string(kBom) : std::string()) + out;
}

std::vector<FilterRule> parse_rule_file(std::string_view text) { return rules_from_grid(RuleFile(text).grid()); }

std::string rule_file_text(const std::vector<GridRow>& grid) {
  std::string out;
  for (const GridRow& row : grid) out += row_line(row) + "\n";
  return out;
}

}  // namespace tw::packetfilter
