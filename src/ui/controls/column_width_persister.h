#pragma once
// Keeps the column widths of a list header in the settings file, under the
// list's section and the key "ColnmWidth": load() sizes the sections from the
// file (repairing a damaged list column by column), save() writes the current
// widths back. A hidden section reports no width; it is written with the
// width it was loaded with, so a column hidden for a while keeps its width.
//
// The owner calls save() when its page closes; ReportListView does it from
// its destructor. Threads: the UI thread only. The header and the profile
// must outlive the persister.
#include <string>
#include <vector>

class QHeaderView;

namespace tw::settings {
class Profile;
}

namespace tw::ui {

class ColumnWidthPersister {
 public:
  ColumnWidthPersister(QHeaderView* header, settings::Profile& profile, std::string section,
                       std::vector<int> defaults);

  void load();
  // False when nothing was written (no columns, or the settings refused it).
  bool save();

  // The widths save() would write.
  std::vector<int> widths() const;
  const std::string& section() const { return section_; }

 private:
  QHeaderView* header_;
  settings::Profile& profile_;
  std::string section_;
  std::vector<int> defaults_;
  std::vector<int> loaded_;
};

}  // namespace tw::ui
