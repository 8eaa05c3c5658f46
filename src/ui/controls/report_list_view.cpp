#include "ui/controls/report_list_view.h"

#include <QHeaderView>
#include <QKeyEvent>

#include <utility>

#include "ui/controls/cell_color_delegate.h"
#include "ui/controls/column_fit.h"
#include "ui/controls/column_width_persister.h"
#include "ui/controls/list_copy.h"
#include "ui/controls/list_font.h"
#include "ui/models/list_model_base.h"

namespace tw::ui {
namespace {

QColor color_of(std::uint32_t colorref) {
  const shell::Rgb c = shell::rgb_of_colorref(colorref);
  return QColor(c.r, c.g, c.b);
}

}  // namespace

ReportListView::ReportListView(QWidget* parent) : QTreeView(parent) {
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);  // rows are one text line; lets the view skip measuring 500 rows
  setAllColumnsShowFocus(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTextElideMode(Qt::ElideRight);
  setSortingEnabled(false);  // the owner sorts its records; the header only shows the mark
  setItemDelegate(new CellColorDelegate(this));

  QHeaderView* h = header();
  h->setStretchLastSection(false);
  h->setSectionsMovable(false);
  h->setSectionsClickable(true);
  h->setSectionResizeMode(QHeaderView::Interactive);
  h->setMinimumSectionSize(0);  // a width of 0 in the settings is a column dragged shut
  connect(h, &QHeaderView::sectionClicked, this, [this](int column) {
    emit header_clicked(column);
    // The header flips its own mark on a click; the model's state wins.
    if (ListModelBase* m = model_.data()) show_sort_mark(m->sort_state());
  });
}

ReportListView::~ReportListView() {
  if (widths_) widths_->save();
}

void ReportListView::set_list_model(ListModelBase* model, bool sorted_by_header) {
  if (model_) disconnect(model_, nullptr, this, nullptr);
  model_ = model;
  setModel(model);
  if (!model) return;
  setFont(list_font(model->language(), font()));
  std::vector<ColumnSample> samples;
  for (const shell::ListColumn& c : model->columns()) {
    const std::string_view t = shell::column_sample(c, model->language());
    samples.push_back({QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size())), false});
  }
  default_widths_ = fitted_column_widths(*this, *header(), model->default_widths(), samples, sorted_by_header);
  for (int i = 0; i < static_cast<int>(default_widths_.size()); ++i)
    header()->resizeSection(i, default_widths_[static_cast<std::size_t>(i)]);
  connect(model, &ListModelBase::sort_state_changed, this, &ReportListView::show_sort_mark);
  show_sort_mark(model->sort_state());
}

void ReportListView::keep_column_widths(settings::Profile& profile, std::string section) {
  widths_ = std::make_unique<ColumnWidthPersister>(header(), profile, std::move(section), default_widths_);
  widths_->load();
}

bool ReportListView::save_column_widths() { return widths_ && widths_->save(); }

void ReportListView::set_base_colors(std::optional<std::uint32_t> background, std::optional<std::uint32_t> text) {
  QPalette pal = palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    if (background) pal.setColor(group, QPalette::Base, color_of(*background));
    if (text) pal.setColor(group, QPalette::Text, color_of(*text));
  }
  setPalette(pal);
}

bool ReportListView::copy_selection() { return copy_selected_rows(*this, copy_items_); }

void ReportListView::keyPressEvent(QKeyEvent* event) {
  // The base class would copy only the current cell.
  if (event == QKeySequence::Copy) {
    copy_selection();
    event->accept();
    return;
  }
  QTreeView::keyPressEvent(event);
}

void ReportListView::show_sort_mark(shell::SortState state) {
  QHeaderView* h = header();
  if (state.column < 0) {
    h->setSortIndicatorShown(false);
    h->setSortIndicator(-1, Qt::AscendingOrder);
    return;
  }
  h->setSortIndicator(state.column, state.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
  h->setSortIndicatorShown(true);
}

}  // namespace tw::ui
