#pragma once
// A two-column list of named colours, each row showing its colour as a framed
// swatch. The name column is at least as wide as its widest name. Activating
// rows (double click, Enter) opens the colour chooser once for every selected
// row, started at that row's colour; a chosen colour replaces it.
#include <QTreeWidget>

#include <cstdint>
#include <vector>

namespace tw::ui {

// The colour of a swatch's frame: black, middle grey or white, whichever
// stands out most from both the swatch and the cell it sits on, so that a
// swatch shows in light and dark themes and over the selection alike.
QColor swatch_frame_color(const QColor& swatch, const QColor& cell);

class ColorList : public QTreeWidget {
  Q_OBJECT
 public:
  enum class Layout { ColorFirst, NameFirst };
  struct Columns {
    QString color_header;
    QString name_header;
    int color_width = 80;
    int name_width = 300;
  };

  ColorList(Layout layout, const Columns& columns, QWidget* parent = nullptr);

  // One row per name, in order. Colours start black until set_colors().
  void set_names(const QStringList& names);
  // Colours as 0x00BBGGRR values; extra values are ignored, missing rows keep theirs.
  void set_colors(const std::vector<std::uint32_t>& colors);
  std::vector<std::uint32_t> colors() const;
  std::uint32_t color(int row) const;

  // What activating the list does: the chooser for each selected row.
  void choose_for_selected_rows();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void paint_row(QTreeWidgetItem* item, std::uint32_t color);
  void fit_name_column();

  int color_col_;
  int name_col_;
  int name_width_ = 0;  // the width asked for: the least the name column gets
  std::vector<std::uint32_t> colors_;
};

}  // namespace tw::ui
