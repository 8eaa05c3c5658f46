#pragma once
// The packet list as a Qt model: the twelve columns, and the rows of the
// Packet Monitor's list with their colours (addresses and hosts by domain,
// the protocol by direction, the rest in the list's text colour).
//
// The monitor's list changes only by a row added on top, rows cut at the
// bottom and the whole list emptied (by "Remove all items" or the packet
// log), so sync() follows it by position without resetting the model: the
// view keeps its scroll position and selection.
//
// Threads: the UI thread only.
#include <array>

#include "packets/packet_list.h"
#include "shared/domain_colours.h"
#include "ui/models/list_model_base.h"

namespace tw::ui {

const std::array<shell::ListColumn, packets::kColumnCount>& packet_list_columns();

class PacketListModel : public ListModelBase {
  Q_OBJECT
 public:
  PacketListModel(Language lang, const shared::ListColours& colours, QObject* parent = nullptr);

  void set_colours(const shared::ListColours& colours) { colours_ = colours; }
  // `added`: the list gained a row on top since the last sync.
  void sync(const packets::PacketList& list, bool added);

 private:
  ListRow to_row(const packets::PacketRow& row) const;

  shared::ListColours colours_;
};

}  // namespace tw::ui
