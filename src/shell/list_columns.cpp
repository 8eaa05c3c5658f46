#include "shell/list_columns.h"

namespace tw::shell {

std::vector<int> default_column_widths(std::span<const ListColumn> columns) {
  std::vector<int> out;
  out.reserve(columns.size());
  for (const ListColumn& c : columns) out.push_back(c.default_width);
  return out;
}

std::vector<int> parse_column_widths(std::string_view text, std::span<const int> defaults) {
  std::vector<int> widths(defaults.begin(), defaults.end());
  settings::parse_int_list(text, widths);
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (widths[i] < 0 || widths[i] > kMaxColumnWidth) widths[i] = defaults[i];
  }
  return widths;
}

std::string format_column_widths(std::span<const int> widths) { return settings::format_int_list(widths); }

std::vector<int> read_column_widths(const settings::Profile& profile, std::string_view section,
                                    std::span<const int> defaults) {
  return parse_column_widths(profile.read_string(section, kColumnWidthKey, ""), defaults);
}

bool write_column_widths(settings::Profile& profile, std::string_view section,
                         std::span<const int> widths) {
  return profile.write_string(section, kColumnWidthKey, format_column_widths(widths));
}

CopyItems parse_copy_items(std::string_view text) {
  CopyItems items = kDefaultCopyItems;
  settings::parse_int_list(text, items);
  return items;
}

std::string format_copy_items(const CopyItems& items) { return settings::format_int_list(items); }

CopyItems read_copy_items(const settings::Profile& profile, std::string_view section) {
  return parse_copy_items(profile.read_string(section, kCopyItemKey, ""));
}

bool write_copy_items(settings::Profile& profile, std::string_view section, const CopyItems& items) {
  return profile.write_string(section, kCopyItemKey, format_copy_items(items));
}

std::vector<int> copy_columns(const CopyItems& items, int column_count) {
  std::vector<int> out;
  for (int c = 0; c < column_count && static_cast<std::size_t>(c) < items.size(); ++c) {
    if (items[static_cast<std::size_t>(c)] == 1) out.push_back(c);
  }
  return out;
}

std::string build_copy_text(std::span<const int> rows, std::span<const int> columns,
                            const CellText& cell) {
  std::string out;
  for (int row : rows) {
    for (int column : columns) {
      out += cell(row, column);
      out += ' ';
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace tw::shell
