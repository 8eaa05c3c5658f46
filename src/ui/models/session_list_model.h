#pragma once
// The Session Monitor's list: the nine columns of the session rows with their
// colours. Address and host cells are coloured by domain, the Status cell by
// whether the connection is established, the other cells in the list's text
// colour.
//
// The monitor sorts and builds the rows; show() hands them over by position,
// so a refresh that reorders connections keeps the selected positions, the
// scroll position and the current row, as the list always has.
//
// Threads: the UI thread only.
#include <vector>

#include "sessions/session_list.h"
#include "shared/domain_colours.h"
#include "ui/models/list_model_base.h"

namespace tw::ui {

class SessionListModel : public ListModelBase {
  Q_OBJECT
 public:
  enum Column : int {
    kLocalAddress = sessions::kLocalAddress,
    kLocalHost = sessions::kLocalHost,
    kLocalPort = sessions::kLocalPort,
    kRemoteAddress = sessions::kRemoteAddress,
    kRemoteHost = sessions::kRemoteHost,
    kRemotePort = sessions::kRemotePort,
    kStatus = sessions::kStatus,
    kTime = sessions::kTime,
    kProcess = sessions::kProcess,
    kColumnCount = sessions::kColumnCount,
  };

  explicit SessionListModel(Language lang, QObject* parent = nullptr);

  // The colours of the "Surveil" section (shared with the packet list).
  void set_colours(const shared::ListColours& colours);
  const shared::ListColours& colours() const { return colours_; }

  // Shows `rows` in list order; cells of unchanged rows are left alone.
  void show(const std::vector<sessions::RowTexts>& rows);
  // The sort mark of the monitor's sort state.
  void show_sort(const sessions::SortState& sort);

  // One row as the list shows it.
  ListRow make_row(const sessions::RowTexts& texts) const;

 protected:
  // The tool tip of an address or host cell holding an IPv6 address: the
  // whole text, which the default column widths (sized for dotted IPv4)
  // often cut.
  QVariant cell_data(const QModelIndex& index, int role) const override;

 private:
  shared::ListColours colours_;
  std::vector<sessions::RowTexts> shown_;
};

}  // namespace tw::ui
