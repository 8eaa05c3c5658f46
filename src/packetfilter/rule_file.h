#pragma once
// The rule file tarnix_packetfilter.txt as a document of lines, so that the
// program changes only what the user changed in it.
//
// Every line of the file is kept as it was read. The rows that are rules
// (their first field "FORWARD" or "DROP", every address, mask and port field
// complete) are the grid, up to kMaxRules of them; comments, blank lines,
// rows that are no rules (a "FORWORD" typo, "10.0.0.1-") and rules beyond the
// table are lines the grid does not hold: they keep their text and their
// places whatever the grid does. A grid row is written from its cells only
// once it was edited; until then its line stays byte for byte.
//
// The document remembers the text it was read from (its base). When the file
// has changed on disk since, merged_onto() applies this document's edits to
// the file's new text instead of overwriting it: lines matched by their text,
// edited rows written in place, deleted rows taken out, added rows put after
// the row they followed (appended ones at the new end); an edit whose row was
// changed or removed on disk is given up and counted.
//
// Reading: a UTF-8 byte-order mark at the start is skipped (and written back);
// a line is a line however long; the last line's last field counts without a
// line break (the end of the file ends it); a CR before a line feed is part of
// the line end. New lines take the file's line end (CR LF when its first line
// has one).
//
// Plain data and pure functions: no I/O, any thread, one thread per object.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packetfilter/filter_rules.h"

namespace tw::packetfilter {

// A line of the file that is kept but not used.
struct LineProblem {
  std::size_t line = 0;       // 1-based line number in the file
  bool beyond_table = false;  // a good rule after the table's kMaxRules
  RowProblem problem;         // why it is no rule, when !beyond_table
  friend bool operator==(const LineProblem&, const LineProblem&) = default;
};

class RuleFile {
 public:
  // No file: an empty document whose base is "no file".
  RuleFile() = default;
  // The document of a file's text.
  explicit RuleFile(std::string_view text);

  // The grid: the rules' cells as the grid shows them (each row in the form
  // the rule record gives it back: "0443" shows as "443").
  const std::vector<GridRow>& grid() const { return grid_; }
  // The lines that are kept but not used, in line order.
  const std::vector<LineProblem>& problems() const { return problems_; }
  // The text this document was read from; nullopt for "no file".
  const std::optional<std::string>& base() const { return base_; }
  // Whether any row was edited, added or removed since it was read.
  bool edited() const { return edited_; }
  // Whether the file's last line is a row of the grid (a row appended to a
  // full table is not).
  bool last_line_in_grid() const { return !lines_.empty() && lines_.back().row.has_value(); }

  // ---- edits by grid row; false (and nothing changed) when out of range or,
  // for additions, when the grid holds kMaxRules rows already ---------------
  bool set_row(std::size_t row, const GridRow& cells);
  // A new row before grid row `before`; at the end of the file when `before`
  // is the grid's size.
  bool insert_row(std::size_t before, const GridRow& cells);
  bool erase_row(std::size_t row);
  // Exchanges the cells of two rows; the lines keep their places.
  bool swap_rows(std::size_t a, std::size_t b);

  // The file's text with the edits: unedited lines as read, edited and new
  // rows written from their cells; "" when no line is left. Without edits,
  // the base itself.
  std::string text() const;
  // The edits applied onto `disk`, the file's text now (nullopt: it is gone).
  // `given_up`, when not null, receives how many edits could not be applied
  // because their row had changed on disk.
  std::string merged_onto(const std::optional<std::string>& disk, std::size_t* given_up = nullptr) const;

 private:
  struct Line {
    std::string text;                  // as read, without the line feed (a CR before it stays here)
    std::optional<std::size_t> base;   // its index among the base's lines; nullopt: added here
    std::optional<std::size_t> row;    // a rule: its grid row
    bool edited = false;               // written from its grid row's cells
    bool line_feed = true;             // a line feed follows it
  };
  std::string render(const Line& line, bool crlf) const;
  void reindex();

  std::optional<std::string> base_;
  bool bom_ = false;
  bool crlf_ = false;
  bool edited_ = false;
  std::vector<Line> lines_;
  std::vector<std::size_t> grid_lines_;  // the line of each grid row
  std::vector<GridRow> grid_;
  std::vector<LineProblem> problems_;
};

// The rules of a file's text (the grid of RuleFile(text) as records).
std::vector<FilterRule> parse_rule_file(std::string_view text);
// A file of the grid's rows, one line each; "" for an empty grid.
std::string rule_file_text(const std::vector<GridRow>& grid);

}  // namespace tw::packetfilter
