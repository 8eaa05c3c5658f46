#pragma once
// The packet list without its window: the twelve columns, the cell texts of
// a decoded packet, the rows (newest on top, at most 500), their colours and
// the clipboard texts. The log writer reads and empties the same rows.
//
// Threads: main thread only (the display timer, the page and the log writer
// all run there).
#include <array>
#include <cstddef>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "logging/row_sources.h"
#include "packets/packet_record.h"
#include "shared/domain_colours.h"

namespace tw::packets {

inline constexpr int kColumnCount = 12;
enum Column : int {
  kAddress1 = 0, kHost1, kPort1, kAddress2, kHost2, kPort2, kLength, kTtl, kProtocol, kDateTime, kProcess, kData,
};

struct PacketColumn {
  std::string_view header_en;
  std::string_view header_ja;
  int default_width;
  bool align_right;
};
const std::array<PacketColumn, kColumnCount>& packet_columns();

inline constexpr std::size_t kMaxRows = 500;

using PacketRow = logging::PacketLogRow;

// The executable name of a process id ("" when unknown).
using ProcessName = std::function<std::string(int pid)>;

// "%m/%d/%Y %H:%M:%S" (English) or "%Y/%m/%d %H:%M:%S" (Japanese).
std::string date_time_text(const PacketTime& t, Language lang);

// The twelve cell texts of a record.
PacketRow row_texts(const PacketRecord& r, Language lang, bool data_as_text, const ProcessName& process_name);

// The colour of a cell: addresses and hosts by their domain, the protocol by
// its direction, the rest in the text colour.
shared::ColourKey cell_colour_key(int column, std::string_view text);

class PacketList final : public logging::PacketLogList {
 public:
  // Adds a row on top; the row at index 500 goes.
  void add_top(PacketRow row);
  std::size_t size() const { return rows_.size(); }
  bool empty() const { return rows_.empty(); }
  const PacketRow& row(std::size_t i) const { return rows_[i]; }

  // "Remove all items".
  void remove_all() { rows_.clear(); }

  // "Clipboard Copy": per selected row, the cells whose `copy_items` field is
  // 1 each followed by a blank, "\r\n" after the row.
  std::string copy_text(std::span<const std::size_t> selected, std::span<const int> copy_items) const;
  // "Copy Packet-Data": the data cell of every selected row, one a line.
  std::string packet_data_text(std::span<const std::size_t> selected) const;

  // logging::PacketLogList
  std::vector<PacketRow> rows(std::size_t limit) const override;
  void clear() override { rows_.clear(); }

 private:
  std::deque<PacketRow> rows_;
};

}  // namespace tw::packets
