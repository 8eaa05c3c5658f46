#include "ui/controls/column_width_persister.h"

#include <QHeaderView>

#include <utility>

#include "settings/profile.h"
#include "shell/list_columns.h"

namespace tw::ui {

ColumnWidthPersister::ColumnWidthPersister(QHeaderView* header, settings::Profile& profile, std::string section,
                                           std::vector<int> defaults)
    : header_(header), profile_(profile), section_(std::move(section)), defaults_(std::move(defaults)),
      loaded_(defaults_) {}

void ColumnWidthPersister::load() {
  loaded_ = shell::read_column_widths(profile_, section_, defaults_);
  const int sections = header_->count();
  for (int i = 0; i < sections && static_cast<std::size_t>(i) < loaded_.size(); ++i) {
    header_->resizeSection(i, loaded_[static_cast<std::size_t>(i)]);
  }
}

std::vector<int> ColumnWidthPersister::widths() const {
  std::vector<int> out = loaded_;
  const int sections = header_->count();
  for (int i = 0; i < sections && static_cast<std::size_t>(i) < out.size(); ++i) {
    if (header_->isSectionHidden(i)) continue;
    out[static_cast<std::size_t>(i)] = header_->sectionSize(i);
  }
  return out;
}

bool ColumnWidthPersister::save() {
  // Without columns there is nothing to say, and an empty list would wipe
  // the widths another run saved.
  if (defaults_.empty()) return false;
  return shell::write_column_widths(profile_, section_, widths());
}

}  // namespace tw::ui
