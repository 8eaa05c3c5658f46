#include "ui/packets/packet_list_model.h"

#include "ui/colorref.h"

namespace tw::ui {

namespace {

// A typical full text of each column, so that the list starts wide enough to
// show it: the widest address, a host still being looked up, the largest
// port and length, a protocol with its direction, the date, a process. The
// data column is as long as its packet; it keeps its width.
constexpr std::array<std::string_view, packets::kColumnCount> kSamples = {
    "255.255.255.255", "(255.255.255.255)", "65535", "255.255.255.255", "(255.255.255.255)", "65535",
    "65535",           "255",               "IGMP(DL)", "12/31/2024 23:59:59", "firefox-esr(123456)", "",
};

}  // namespace

const std::array<shell::ListColumn, packets::kColumnCount>& packet_list_columns() {
  static const std::array<shell::ListColumn, packets::kColumnCount> columns = [] {
    std::array<shell::ListColumn, packets::kColumnCount> out{};
    for (int i = 0; i < packets::kColumnCount; ++i) {
      const auto u = static_cast<std::size_t>(i);
      const packets::PacketColumn& c = packets::packet_columns()[u];
      out[u] = {c.header_en, c.header_ja, c.default_width,
                c.align_right ? shell::ColumnAlign::Right : shell::ColumnAlign::Left, kSamples[u]};
    }
    return out;
  }();
  return columns;
}

PacketListModel::PacketListModel(Language lang, const shared::ListColours& colours, QObject* parent)
    : ListModelBase(packet_list_columns(), lang, parent), colours_(colours) {}

ListRow PacketListModel::to_row(const packets::PacketRow& row) const {
  ListRow out(row.size());
  for (std::size_t c = 0; c < row.size(); ++c) {
    out[c].text = QString::fromStdString(row[c]);
    const shared::ColourKey key = packets::cell_colour_key(static_cast<int>(c), row[c]);
    // The plain text colour is the list's own when the file sets none.
    if (key != shared::ColourKey::Text || colours_.has_text) out[c].foreground = from_colorref(colours_.get(key));
  }
  return out;
}

void PacketListModel::sync(const packets::PacketList& list, bool added) {
  const int wanted = static_cast<int>(list.size());
  if (added && wanted > 0) insert_rows(0, {to_row(list.row(0))});
  if (rowCount() > wanted) remove_rows(wanted, rowCount() - wanted);
  if (rowCount() < wanted) {
    // Out of step (rows added without a sync): rebuild from the list.
    std::vector<ListRow> rows;
    rows.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) rows.push_back(to_row(list.row(i)));
    replace_rows(std::move(rows));
  }
}

}  // namespace tw::ui
