#pragma once
// The rule grid as a table model: the controller's grid rows, nine columns,
// the Action column with its icon and colour. The controller owns the rows;
// the model only shows them and follows its changes.
//
// Threads: the UI thread only. The controller must outlive the model.
#include <QAbstractTableModel>
#include <QIcon>

#include "packetfilter/filter_controller.h"

namespace tw::ui {

class PacketFilterModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit PacketFilterModel(packetfilter::FilterController& filter, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // The controller's grid changed: every row is shown anew.
  void refresh();

 private:
  packetfilter::FilterController& filter_;
  QIcon forward_icon_, drop_icon_;
};

// The Action texts' colours: FORWARD RGB(255, 224, 32), DROP RGB(96, 255, 96).
QColor action_colour(const QString& action);

}  // namespace tw::ui
